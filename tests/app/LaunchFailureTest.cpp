// SPDX-License-Identifier: MIT
// Runs the built executable with bad command lines and broken bundles, the way a user would
// meet them, and reads what it says and how it exits.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runProcess;
using testing::TemporaryDirectory;
using testing::writeFile;

const fs::path kBuiltExecutable = fs::path(KELVRA_TEST_BUNDLE_DIR) / "bin" / "kelvra-hub";

class LaunchFailureTest : public ::testing::Test {
protected:
    fs::path home() const { return directory_.path() / "home"; }
    fs::path logDirectory() const { return home() / ".local/state/Morvane/Kelvra Hub"; }
    fs::path logFile() const { return logDirectory() / "kelvra-hub.log"; }

    std::map<std::string, std::string> environment() const {
        // No DISPLAY: the message goes to standard error instead of an alert.
        return {{"HOME", home().string()}, {"PATH", "/usr/bin:/bin"}};
    }

    /// A copy of the executable in a bundle of its own, with whatever the test adds around it.
    fs::path copyExecutableInto(const fs::path& bundle) {
        fs::create_directories(bundle / "bin");
        fs::copy_file(kBuiltExecutable, bundle / "bin" / "kelvra-hub");
        return bundle / "bin" / "kelvra-hub";
    }

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
    void expectStartupFailure(const testing::ProcessResult& result, const std::string& diagnostic) {
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_TRUE(result.standardError.starts_with("Kelvra Hub could not start.\n"));
        EXPECT_TRUE(result.standardError.ends_with("\n\nLog: " + logFile().string() + "\n"))
            << result.standardError;
        const std::string log = readFile(logFile());
        EXPECT_NE(log.find("Z [shell:fatal] " + diagnostic), std::string::npos) << log;
        EXPECT_EQ(filesInHome(),
                  std::vector<std::string>{".local/state/Morvane/Kelvra Hub/kelvra-hub.log"});
    }

    void SetUp() override { fs::create_directories(home()); }

    TemporaryDirectory directory_;
};

TEST_F(LaunchFailureTest, BadCommandLinesEndWithTheirOwnMessage) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--bogus"}, "AppOptionsError.unknownArgument(\"--bogus\")"},
        {{"--smoke-test", "-x"}, "AppOptionsError.unknownArgument(\"-x\")"},
        {{"--dev-root"}, "AppOptionsError.missingDevelopmentRoot"},
        {{"--dev-root", "/nonexistent checkout"},
         "BackendPathError.missingFile(\"shared desktop server entrypoint\", \"/nonexistent "
         "checkout/server/desktop.js\")"},
    };
    for (const auto& [arguments, diagnostic] : rows) {
        fs::remove_all(home());
        fs::create_directories(home());
        SCOPED_TRACE(diagnostic);
        expectStartupFailure(runProcess(kBuiltExecutable, arguments, environment()), diagnostic);
    }
}

TEST_F(LaunchFailureTest, BrokenBundlesNameTheMissingPiece) {
    const fs::path bundle = directory_.path() / "bundle";
    const fs::path executable = copyExecutableInto(bundle);
    const fs::path node = bundle / "Helpers" / "node";
    const fs::path entryPoint = bundle / "Resources" / "app" / "server" / "desktop.js";

    expectStartupFailure(runProcess(executable, {"--smoke-test"}, environment()),
                         "BackendPathError.missingResourcesDirectory");

    fs::create_directories(bundle / "Resources");
    fs::remove_all(home());
    expectStartupFailure(
        runProcess(executable, {}, environment()),
        "BackendPathError.missingFile(\"bundled Node.js runtime\", \"" + node.string() + "\")");

    writeFile(node, "#!/bin/sh\n");
    fs::permissions(node, fs::perms::owner_read | fs::perms::owner_write);
    fs::remove_all(home());
    expectStartupFailure(
        runProcess(executable, {}, environment()),
        "BackendPathError.notExecutable(\"bundled Node.js runtime\", \"" + node.string() + "\")");

    fs::permissions(node, fs::perms::owner_all);
    fs::remove_all(home());
    expectStartupFailure(runProcess(executable, {}, environment()),
                         "BackendPathError.missingFile(\"packaged desktop server entrypoint\", \"" +
                             entryPoint.string() + "\")");
}

TEST_F(LaunchFailureTest, ALogThatCannotBeOpenedIsReportedWithItsPath) {
    writeFile(home() / ".local/state/Morvane", "a file where the log folder belongs");
    // The log is opened by the running application, after the instance lock: it needs a Qt
    // platform, and the offscreen one shows no alert.
    auto offscreen = environment();
    offscreen["QT_QPA_PLATFORM"] = "offscreen";
    const fs::path runtime = directory_.path() / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    offscreen["XDG_RUNTIME_DIR"] = runtime.string();
    const auto result = runProcess(kBuiltExecutable, {}, offscreen);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(result.standardError.starts_with(
        "Kelvra Hub could not start.\nKelvra Hub could not create its log folder " +
        logDirectory().string() + ": "))
        << result.standardError;
    EXPECT_TRUE(result.standardError.ends_with("\n\nLog: " + logFile().string() + "\n"))
        << result.standardError;
    EXPECT_EQ(filesInHome(), (std::vector<std::string>{
                                 ".local/share/Morvane/Kelvra Hub/kelvra-hub.lock",
                                 ".local/state/Morvane",
                             }));
}

TEST_F(LaunchFailureTest, WithoutADisplayItSaysSoAndEnds) {
    const auto result = runProcess(kBuiltExecutable, {}, environment());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("could not connect to a display"), std::string::npos)
        << result.standardError;
}

}  // namespace
}  // namespace kelvra
