// SPDX-License-Identifier: MIT
#include <any>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "shell/updates/AppVersionInfo.h"

namespace kelvra {
namespace {

TEST(AppVersionInfoTest, ReadsTheVersionAndABuildThatAddsSomething) {
    const struct {
        InfoDictionary dictionary;
        std::string version;
        std::optional<std::string> build;
    } rows[] = {
        {{{"CFBundleShortVersionString", std::string("2.1")},
          {"CFBundleVersion", std::string("57")}},
         "2.1",
         "57"},
        {{{"CFBundleShortVersionString", std::string(" 2.1\n")},
          {"CFBundleVersion", std::string("2.1 ")}},
         "2.1",
         std::nullopt},
        {{{"CFBundleShortVersionString", 2.1}, {"CFBundleVersion", 57}}, "Unknown", std::nullopt},
    };
    for (const auto& row : rows) {
        const AppVersionInfo info(row.dictionary);
        EXPECT_EQ(info.version, row.version);
        EXPECT_EQ(info.build, row.build);
    }
}

TEST(AppVersionInfoTest, TheBuildsDictionaryHoldsTheProjectVersion) {
    const AppVersionInfo info(BundleInfo::dictionary());
    EXPECT_EQ(info.version, KELVRA_TEST_PROJECT_VERSION);
    const auto& dictionary = BundleInfo::dictionary();
    EXPECT_EQ(std::any_cast<std::string>(dictionary.at("CFBundleVersion")),
              KELVRA_TEST_BUILD_NUMBER);
}

}  // namespace
}  // namespace kelvra
