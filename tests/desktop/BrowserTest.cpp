// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

#include <QTest>

#include "desktop/ActivationTokenLoan.h"
#include "desktop/Browser.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// `xdg-open` is found on PATH; each row puts a stand-in of its own first.
class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPath_ = std::getenv("PATH");
        setenv("PATH", (directory_.path().string() + ":/usr/bin:/bin").c_str(), 1);
    }
    void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

    void installXdgOpen(const std::string& body) {
        testing::writeExecutable(directory_.path() / "xdg-open",
                                 "#!/bin/sh\necho \"$1 ${XDG_ACTIVATION_TOKEN-none}\" >> '" +
                                     record().string() + "'\n" + body);
    }

    fs::path record() const { return directory_.path() / "opened"; }

    std::optional<bool> open(Browser& browser, const QString& url) {
        std::optional<bool> opened;
        browser.open(url, [&](bool result) {
            EXPECT_FALSE(opened.has_value()) << "completed twice";
            opened = result;
        });
        (void)QTest::qWaitFor([&] { return opened.has_value(); }, 10000);
        return opened;
    }

    testing::TemporaryDirectory directory_;
    std::string savedPath_;
};

TEST_F(BrowserTest, JudgesTheBrowserByTheExitStatusOfXdgOpen) {
    const struct {
        const char* name;
        std::optional<std::string> script;
        bool opened;
        std::optional<std::string> activationToken = std::nullopt;
    } rows[] = {
        {"browser found", "exit 0\n", true},
        // The browser may take the focus with it; our own environment never holds it.
        {"second launch's token", "exit 0\n", true, "launch-token-7"},
        {"no browser", "exit 3\n", false},
        {"killed", "kill -9 $$\n", false},
        {"browser running in the foreground", "exec sleep 30\n", true},
        {"xdg-open missing", std::nullopt, false},
        // The application ignores the stop signals; the browser must not keep them.
        {"browser started clean", std::string(testing::kFailsOnInheritedSignals) + " || exit 3\n",
         true},
    };
    const testing::ParentSignalSettings parentSignals;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(directory_.path() / "xdg-open");
        fs::remove(record());
        if (row.script) {
            installXdgOpen(*row.script);
        }
        // A machine with a browser has a real xdg-open in the system folders.
        const std::string path =
            directory_.path().string() + (row.script ? ":/usr/bin:/bin" : std::string());
        setenv("PATH", path.c_str(), 1);
        Browser browser(300ms);
        {
            const ActivationTokenLoan loan(browser, row.activationToken);
            EXPECT_EQ(open(browser, QStringLiteral("http://127.0.0.1:8080/")), row.opened);
            EXPECT_EQ(std::getenv("XDG_ACTIVATION_TOKEN"), nullptr);
        }
        EXPECT_EQ(std::getenv("XDG_ACTIVATION_TOKEN"), nullptr);
        if (row.script) {
            // A browser still running when judged may not have written its line yet.
            const std::string line =
                "http://127.0.0.1:8080/ " + row.activationToken.value_or("none") + "\n";
            EXPECT_TRUE(QTest::qWaitFor([&] { return testing::readFile(record()) == line; }, 10000))
                << testing::readFile(record());
        }
    }
    // xdg-open would hand any other scheme to whatever program claims it.
    installXdgOpen("exit 0\n");
    for (const char* url : {"smb://host/x", "file:///etc/passwd"}) {
        fs::remove(record());
        Browser browser(300ms);
        EXPECT_EQ(open(browser, QString::fromUtf8(url)), false) << url;
        EXPECT_FALSE(fs::exists(record())) << url;
    }
}

}  // namespace
}  // namespace kelvra
