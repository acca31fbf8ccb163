// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <optional>

#include "core/SettingsStore.h"
#include "shell/WelcomeWindowPreference.h"

namespace kelvra {
namespace {

TEST(WelcomeWindowPreferenceTest, ShowsUnlessAStoredValueReadsAsFalse) {
    const struct {
        std::optional<nlohmann::json> stored;
        bool shown;
    } rows[] = {
        {std::nullopt, true}, {nullptr, true}, {true, true},
        {false, false},       {0, false},      {1, true},
        {0.5, true},          {"YES", true},   {"true", true},
        {" 7", true},         {"NO", false},   {"false", false},
        {"0", false},         {"", false},     {nlohmann::json::object(), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored ? row.stored->dump() : "absent");
        auto defaults = std::make_shared<InMemorySettingsStore>();
        if (row.stored) {
            ASSERT_TRUE(defaults->apply({{"showWelcomeWindowAtStartup", row.stored}}));
        }
        EXPECT_EQ(WelcomeWindowPreference(defaults).shouldShowAtStartup(), row.shown);
    }
}

}  // namespace
}  // namespace kelvra
