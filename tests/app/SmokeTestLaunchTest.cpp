// SPDX-License-Identifier: MIT
// Runs "kelvra-hub --smoke-test" against a copy of the built bundle whose backend misbehaves;
// install-layout.sh runs it against the installed bundle, whose backend is sound.
#include <gtest/gtest.h>

#include "support/LaunchedApplication.h"

namespace kelvra {
namespace {

// A failed smoke test must not end as a success.
TEST(SmokeTestLaunchTest, AMisbehavingBackendFailsWithStatusOne) {
    namespace fs = std::filesystem;
    testing::LaunchedApplication app;
    const fs::path bundle = app.root() / "bundle", server = bundle / "Resources/app/server";
    const fs::path fixtures = fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/backend/fixtures";
    fs::create_directories(bundle / "bin");
    fs::create_directories(bundle / "Helpers");
    fs::create_directories(server);
    fs::copy_file(testing::kExecutable, bundle / "bin/kelvra-hub");
    fs::create_symlink(fs::read_symlink(testing::kBundle / "Helpers/node"),
                       bundle / "Helpers/node");
    fs::copy_file(fixtures / "page-server.js", server / "page-server.js");
    fs::copy_file(fixtures / "not-found.js", server / "desktop.js");
    EXPECT_EQ(app.run({"--smoke-test"}, bundle / "bin/kelvra-hub").exitStatus, 1);
    EXPECT_TRUE(app.log().ends_with("Z [smoke] SmokeTestError.unsuccessfulResponse\n"))
        << app.log();
}

}  // namespace
}  // namespace kelvra
