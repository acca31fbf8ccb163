// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "backend/AppOptions.h"
#include "core/Error.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;
using testing::writeFile;

class AppOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::writeExecutable(directory_.path() / "Helpers" / "node");
        writeFile(resources() / "app" / "server" / "desktop.js", "");
        writeFile(directory_.path() / "a" / "server" / "desktop.js", "");
        writeFile(directory_.path() / "b" / "server" / "desktop.js", "");
        testing::writeExecutable(directory_.path() / "bin" / "node");
    }

    fs::path resources() const { return directory_.path() / "Resources"; }

    std::expected<AppOptions, AppOptions::ParseError> parse(std::vector<std::string> arguments) {
        return AppOptions::parse(arguments, resources(),
                                 {{"PATH", (directory_.path() / "bin").string()}});
    }

    static std::string describe(const std::expected<AppOptions, AppOptions::ParseError>& result) {
        return result ? "<parsed>" : Error(result.error()).description();
    }

    TemporaryDirectory directory_;
};

TEST_F(AppOptionsTest, AcceptsTheTwoOptions) {
    const auto plain = parse({});
    ASSERT_TRUE(plain.has_value());
    EXPECT_FALSE(plain->smokeTest);
    EXPECT_FALSE(plain->backend.isDevelopment);
    EXPECT_EQ(plain->backend.workingDirectory, resources() / "app");

    const auto smoke = parse({"--smoke-test", "--smoke-test"});
    ASSERT_TRUE(smoke.has_value());
    EXPECT_TRUE(smoke->smokeTest);

    const auto lastRootWins = parse({"--dev-root", (directory_.path() / "a").string(), "--dev-root",
                                     (directory_.path() / "b").string()});
    ASSERT_TRUE(lastRootWins.has_value()) << describe(lastRootWins);
    EXPECT_TRUE(lastRootWins->backend.isDevelopment);
    EXPECT_EQ(lastRootWins->backend.workingDirectory, directory_.path() / "b");
}

// The built application's own launch tests cover each error's message; these rows, how
// arguments are read.
TEST_F(AppOptionsTest, RejectsEverythingElseAtTheFirstBadArgument) {
    const std::pair<std::vector<std::string>, AppOptionsError> rows[] = {
        {{"--dev-root=/src"}, AppOptionsError::unknownArgument("--dev-root=/src")},
        {{"--bogus", "--dev-root"}, AppOptionsError::unknownArgument("--bogus")},
    };
    for (const auto& [arguments, error] : rows) {
        EXPECT_EQ(parse(arguments), std::unexpected(AppOptions::ParseError(error)));
    }
}

TEST_F(AppOptionsTest, TakesTheValueAfterDevRootVerbatimAndPassesResolverErrorsOn) {
    const auto result = parse({"--dev-root", "--smoke-test"});
    ASSERT_FALSE(result.has_value());
    const auto* pathError = std::get_if<BackendPathError>(&result.error());
    ASSERT_NE(pathError, nullptr);
    EXPECT_EQ(pathError->kind(), BackendPathError::Kind::missingFile);
    EXPECT_EQ(pathError->path().parent_path().parent_path().filename(), "--smoke-test");
}

}  // namespace
}  // namespace kelvra
