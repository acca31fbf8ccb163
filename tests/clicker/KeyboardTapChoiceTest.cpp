// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "clicker/FakeKeyboardTap.h"
#include "clicker/KeyboardTapChoice.h"

namespace kelvra {
namespace {

using kelvra::testing::FakeKeyboardTap;

TEST(KeyboardTapChoiceTest, OpensTheFirstTapThatWorksOrTheForcedOne) {
    struct Row {
        const char* name;
        bool deviceOpens;
        bool x11InSession;
        std::optional<std::string> forced;
        const char* expected;  // the tap opened, or nullptr for none
    };
    const Row rows[] = {
        {"device preferred", true, true, std::nullopt, "device"},
        {"X11 when the devices do not open", false, true, std::nullopt, "x11"},
        {"nothing outside X11 without devices", false, false, std::nullopt, nullptr},
        {"X11 forced", true, true, "x11", "x11"},
        {"device forced and failing", false, true, "device", nullptr},
        {"unknown tap forced", true, true, "evdev", nullptr},
    };
    for (const Row& row : rows) {
        auto device = std::make_shared<FakeKeyboardTap::Control>();
        auto x11 = std::make_shared<FakeKeyboardTap::Control>();
        if (!row.deviceOpens) {
            device->openError = "permission denied";
        }
        const KeyboardTapBackends backends{
            [device] { return std::make_unique<FakeKeyboardTap>(device); },
            [&]() -> std::unique_ptr<KeyboardTapBackend> {
                return row.x11InSession ? std::make_unique<FakeKeyboardTap>(x11) : nullptr;
            }};
        const auto opened = openKeyboardTap(backends, row.forced);
        EXPECT_EQ(opened.has_value(), row.expected != nullptr) << row.name;
        const std::string chosen = device->opened ? "device" : x11->opened ? "x11" : "";
        EXPECT_EQ(chosen, row.expected ? row.expected : "") << row.name;
        if (!opened) {
            EXPECT_FALSE(opened.error().message.empty()) << row.name;
        }
    }
}

}  // namespace
}  // namespace kelvra
