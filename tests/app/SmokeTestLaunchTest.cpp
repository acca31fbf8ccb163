// SPDX-License-Identifier: MIT
// Runs "kelvra-hub --smoke-test" against packaged bundles: the one the build made, with the
// reference backend, and copies whose backend misbehaves.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using testing::readLines;
using testing::runProcess;
using testing::TemporaryDirectory;

const fs::path kBuiltBundle = fs::path(KELVRA_TEST_BUNDLE_DIR);
const fs::path kFixtures = fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/shell/fixtures";

class SmokeTestLaunchTest : public ::testing::Test {
protected:
    std::map<std::string, std::string> environment() const {
        return {{"HOME", directory_.path().string()}, {"PATH", "/usr/bin:/bin"}};
    }

    std::vector<std::string> log() const {
        return readLines(directory_.path() / ".local/state/Morvane/Kelvra Hub/kelvra-hub.log");
    }

    /// A bundle like the built one whose backend is `fixture`.
    fs::path bundleServing(const std::string& fixture) {
        const fs::path bundle = directory_.path() / "bundle";
        fs::create_directories(bundle / "bin");
        fs::create_directories(bundle / "Helpers");
        fs::create_directories(bundle / "Resources/app/server");
        fs::copy_file(kBuiltBundle / "bin/kelvra-hub", bundle / "bin/kelvra-hub");
        fs::create_symlink(fs::read_symlink(kBuiltBundle / "Helpers/node"),
                           bundle / "Helpers/node");
        fs::copy_file(kFixtures / "page-server.js", bundle / "Resources/app/server/page-server.js");
        fs::copy_file(kFixtures / fixture, bundle / "Resources/app/server/desktop.js");
        return bundle / "bin/kelvra-hub";
    }

    TemporaryDirectory directory_;
};

TEST_F(SmokeTestLaunchTest, TheBuiltBundlePasses) {
    const auto result =
        runProcess(kBuiltBundle / "bin/kelvra-hub", {"--smoke-test"}, environment());
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    const auto lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().ends_with("Z [smoke] Portable Kelvra Hub smoke test passed."))
        << lines.back();
}

TEST_F(SmokeTestLaunchTest, AMisbehavingBackendFailsWithStatusOne) {
    const auto result = runProcess(bundleServing("not-found.js"), {"--smoke-test"}, environment());
    EXPECT_EQ(result.exitStatus, 1);
    const auto lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().ends_with("Z [smoke] SmokeTestError.unsuccessfulResponse"))
        << lines.back();
}

}  // namespace
}  // namespace kelvra
