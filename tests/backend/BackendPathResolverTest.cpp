// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unistd.h>

#include "backend/BackendPathResolver.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;
using testing::writeFile;

void makePlain(const fs::path& path) {
    writeFile(path, "");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

class BackendPathResolverTest : public ::testing::Test {
protected:
    fs::path root() const { return directory_.path(); }
    fs::path resources() const { return root() / "bundle" / "Resources"; }
    fs::path packagedNode() const { return root() / "bundle" / "Helpers" / "node"; }
    fs::path packagedEntryPoint() const { return resources() / "app" / "server" / "desktop.js"; }

    void makeBundle() {
        testing::writeExecutable(packagedNode());
        writeFile(packagedEntryPoint(), "// server\n");
    }

    TemporaryDirectory directory_;
};

TEST_F(BackendPathResolverTest, ResolvesThePackagedLayoutWithoutADevelopmentRoot) {
    makeBundle();
    for (const std::optional<std::string>& root :
         {std::optional<std::string>(), {""}, {"\u00A0\u3000"}}) {
        // A trailing separator and dot segments in the resources path are standardised away.
        const auto info = BackendPathResolver::resolve(resources() / "." / "", root, {});
        ASSERT_TRUE(info.has_value()) << info.error().description();
        EXPECT_EQ(*info, (BackendLaunchInfo{packagedNode(), packagedEntryPoint(),
                                            resources() / "app", false}));
    }
    const auto noResources = BackendPathResolver::resolve(std::nullopt, "  ", {});
    ASSERT_FALSE(noResources.has_value());
    EXPECT_EQ(noResources.error(), BackendPathError::missingResourcesDirectory());
}

TEST_F(BackendPathResolverTest, ReportsTheFirstPackagedProblem) {
    const auto noRuntime = BackendPathError::missingFile("bundled Node.js runtime", packagedNode());
    const auto noEntryPoint =
        BackendPathError::missingFile("packaged desktop server entrypoint", packagedEntryPoint());
    const struct {
        std::function<void()> prepare;
        BackendPathError expected;
    } rows[] = {
        {[] {}, noRuntime},
        {[&] { makePlain(packagedNode()); },  // the entry point is missing too
         BackendPathError::notExecutable("bundled Node.js runtime", packagedNode())},
        {[&] { fs::create_directories(packagedNode()); }, noRuntime},
        {[&] {
             testing::writeExecutable(packagedNode());
             fs::create_directories(packagedEntryPoint());
         },
         noEntryPoint},
    };
    for (const auto& row : rows) {
        fs::remove_all(root() / "bundle");
        fs::create_directories(resources());
        row.prepare();
        const auto info = BackendPathResolver::resolve(resources(), std::nullopt, {});
        ASSERT_FALSE(info.has_value()) << row.expected.description();
        EXPECT_EQ(info.error(), row.expected) << row.expected.description();
    }
}

TEST_F(BackendPathResolverTest, ResolvesAnUntrimmedDevelopmentRootCheckingTheEntryPointFirst) {
    const fs::path typed = (root() / "hub ").string();
    const auto missing = BackendPathResolver::resolve(std::nullopt, typed.string(), {});
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error(), BackendPathError::missingFile("shared desktop server entrypoint",
                                                             typed / "server" / "desktop.js"));

    writeFile(typed / "server" / "desktop.js", "");
    const auto noNode =
        BackendPathResolver::resolve(std::nullopt, typed.string(), {{"PATH", "/nonexistent"}});
    ASSERT_FALSE(noNode.has_value());
    EXPECT_EQ(noNode.error(), BackendPathError::missingDevelopmentNode());

    testing::writeExecutable(root() / "bin" / "node");
    const Environment environment{
        {"PATH", (root() / "missing").string() + ":" + (root() / "bin").string()}};
    const auto info = BackendPathResolver::resolve(std::nullopt, typed.string(), environment);
    ASSERT_TRUE(info.has_value()) << info.error().description();
    EXPECT_EQ(*info, (BackendLaunchInfo{root() / "bin" / "node", typed / "server" / "desktop.js",
                                        typed, true}));
}

TEST_F(BackendPathResolverTest, SearchesPathInOrderWithEmptyPiecesMeaningTheCurrentDirectory) {
    writeFile(root() / "checkout" / "server" / "desktop.js", "");
    const fs::path first = root() / "first";
    const fs::path here = root() / "here";
    const fs::path last = root() / "last";
    makePlain(first / "node");                        // present but not executable: skipped
    fs::create_directories(root() / "dir" / "node");  // a directory is never a runtime
    testing::writeExecutable(here / "node");
    testing::writeExecutable(last / "node");
    const fs::path previous = fs::current_path();
    fs::current_path(here);  // restored at the end: nothing below returns early
    auto resolveWith = [&](const std::optional<std::string>& searchPath) {
        Environment environment;
        if (searchPath) {
            environment["PATH"] = *searchPath;
        }
        auto info =
            BackendPathResolver::resolve(std::nullopt, (root() / "checkout").string(), environment);
        return info ? info->nodePath : fs::path("<error>");
    };

    EXPECT_EQ(resolveWith(first.string() + "::" + last.string()), here / "node");
    EXPECT_EQ(resolveWith(first.string() + ":" + (root() / "dir").string() + ":" + last.string()),
              last / "node");
    EXPECT_EQ(resolveWith(std::nullopt), here / "node");  // unset: only the current directory
    EXPECT_EQ(resolveWith(""), here / "node");
    EXPECT_EQ(resolveWith(last.string() + ":"), last / "node");
    fs::current_path(previous);
}

}  // namespace
}  // namespace kelvra
