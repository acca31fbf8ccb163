// SPDX-License-Identifier: MIT
// Runs the built executable with bad command lines and broken bundles, the way a user would
// meet them, and reads what it says and how it exits.
#include <gtest/gtest.h>

#include "support/LaunchedApplication.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using testing::kExecutable;

class LaunchFailureTest : public ::testing::Test {
protected:
    // No DISPLAY: the message goes to standard error instead of an alert.
    LaunchFailureTest() { app_.environment.erase("XDG_RUNTIME_DIR"); }

    fs::path home() const { return app_.home(); }

    /// Every file below the home directory, relative to it.
    std::vector<std::string> filesInHome() const {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(home())) {
            if (!entry.is_directory()) {
                files.push_back(fs::relative(entry.path(), home()).string());
            }
        }
        return files;
    }

    /// The message names the log, which holds the diagnostic; nothing else is left behind.
    void expectStartupFailure(const std::vector<std::string>& arguments,
                              const std::string& diagnostic,
                              const fs::path& executable = kExecutable) {
        fs::create_directories(home());
        const auto result = app_.run(arguments, executable);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_TRUE(result.standardError.starts_with("Kelvra Hub could not start.\n"));
        EXPECT_TRUE(result.standardError.ends_with("\n\nLog: " + app_.logFile().string() + "\n"))
            << result.standardError;
        EXPECT_NE(app_.log().find("Z [shell:fatal] " + diagnostic), std::string::npos)
            << app_.log();
        EXPECT_EQ(filesInHome(),
                  std::vector<std::string>{".local/state/Morvane/Kelvra Hub/kelvra-hub.log"});
    }

    testing::LaunchedApplication app_;
};

TEST_F(LaunchFailureTest, BadCommandLinesEndWithTheirOwnMessage) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--bogus"}, "AppOptionsError.unknownArgument(\"--bogus\")"},
        {{"--dev-root"}, "AppOptionsError.missingDevelopmentRoot"},
    };
    for (const auto& [arguments, diagnostic] : rows) {
        SCOPED_TRACE(diagnostic);
        expectStartupFailure(arguments, diagnostic);
    }
}

// The backend is looked for beside the executable, wherever the bundle was copied; the
// resolver's own tests cover each missing piece.
TEST_F(LaunchFailureTest, ABrokenBundleNamesTheMissingPieceBesideTheExecutable) {
    const fs::path bundle = app_.root() / "bundle";
    fs::create_directories(bundle / "bin");
    fs::create_directories(bundle / "Resources");
    fs::copy_file(kExecutable, bundle / "bin/kelvra-hub");
    expectStartupFailure({"--smoke-test"},
                         "BackendPathError.missingFile(\"bundled Node.js runtime\", \"" +
                             (bundle / "Helpers" / "node").string() + "\")",
                         bundle / "bin/kelvra-hub");
}

TEST_F(LaunchFailureTest, ALogThatCannotBeOpenedIsReportedWithItsPath) {
    testing::writeFile(home() / ".local/state/Morvane", "a file where the log folder belongs");
    // The log is opened by the running application, after the instance lock: it needs a Qt
    // platform, and the offscreen one shows no alert.
    app_.environment["QT_QPA_PLATFORM"] = "offscreen";
    app_.environment["XDG_RUNTIME_DIR"] = app_.runtime().string();
    const auto result = app_.run();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(result.standardError.starts_with(
        "Kelvra Hub could not start.\nKelvra Hub could not create its log folder " +
        app_.logFile().parent_path().string() + ": "))
        << result.standardError;
    EXPECT_TRUE(result.standardError.ends_with("\n\nLog: " + app_.logFile().string() + "\n"))
        << result.standardError;
    EXPECT_EQ(filesInHome(), (std::vector<std::string>{
                                 ".local/share/Morvane/Kelvra Hub/kelvra-hub.lock",
                                 ".local/state/Morvane",
                             }));
}

TEST_F(LaunchFailureTest, WithoutADisplayItSaysSoAndEnds) {
    const auto result = app_.run();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("could not connect to a display"), std::string::npos)
        << result.standardError;
}

}  // namespace
}  // namespace kelvra
