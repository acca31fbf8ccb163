// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "shell/BundleLocation.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

TEST(BundleLocationTest, ResourcesAreBesideTheExecutablesFolderWhenPresent) {
    testing::TemporaryDirectory directory;
    const auto executable = directory.path() / "bin" / "kelvra-hub";
    EXPECT_EQ(BundleLocation::resourcesDirectory(executable), std::nullopt);

    std::filesystem::create_directories(directory.path() / "Resources");
    EXPECT_EQ(BundleLocation::resourcesDirectory(executable), directory.path() / "Resources");

    const auto running = BundleLocation::executablePath();
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(running->filename(), "shell_tests");
}

}  // namespace
}  // namespace kelvra
