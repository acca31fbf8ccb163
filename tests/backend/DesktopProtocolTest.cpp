// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "backend/DesktopProtocol.h"

namespace kelvra {
namespace {

using Kind = DesktopProtocolError::Kind;
using Result = std::expected<std::optional<DesktopProtocolEvent>, DesktopProtocolError>;

Result event(const std::string& payload) {
    return DesktopProtocol::parseEvent("KELVRA_HUB_DESKTOP " + payload);
}

Result failure(Kind kind) {
    return std::unexpected(DesktopProtocolError(kind));
}

TEST(DesktopProtocolTest, OnlyLinesWithTheExactPrefixAreEvents) {
    for (const std::string line :
         {"", "hello", "KELVRA_HUB_DESKTOP", "KELVRA_HUB_DESKTOP{\"event\":\"ready\"}",
          "kelvra_hub_desktop {\"event\":\"x\"}", " KELVRA_HUB_DESKTOP {\"event\":\"x\"}",
          "KELVRA_HUB_DESKTOP\t{\"event\":\"x\"}"}) {
        EXPECT_EQ(DesktopProtocol::parseEvent(line), Result(std::nullopt)) << line;
    }
}

TEST(DesktopProtocolTest, DecodesEventsByTheirRules) {
    const struct {
        std::string payload;
        Result expected;
    } rows[] = {
        // Framing of the JSON object itself.
        {"", failure(Kind::malformedEvent)},
        {"{\"event\":\"ready\"", failure(Kind::malformedEvent)},
        {"{\"event\":7}", failure(Kind::malformedEvent)},
        {"{\"event\":\"ready\"} trailing", failure(Kind::malformedEvent)},
        {"{\"event\":\"something-new\",\"x\":[1,2]}", DesktopEvent::Unknown{}},

        // Readiness.
        {R"({"event":"ready","url":"http://127.0.0.1:8080/"})",
         DesktopEvent::Ready{"http://127.0.0.1:8080/"}},
        {R"({"event":"ready","url":"HTTP://10.0.0.5:80/page?x=1#top","extra":true})",
         DesktopEvent::Ready{"http://10.0.0.5:80/page?x=1#top"}},
        {R"({"event":"ready","url":"http://localhost:8080/"})", failure(Kind::malformedReadiness)},
        {R"({"event":"ready","url":"https://127.0.0.1:8080/"})", failure(Kind::malformedReadiness)},
        {R"({"event":"ready","url":"http://127.0.0.1/"})", failure(Kind::malformedReadiness)},
        {R"({"event":"ready","url":"http://127.0.0.1:70000/"})", failure(Kind::malformedReadiness)},
        {R"({"event":"ready","url":"http://a:b@127.0.0.1:8080/"})",
         failure(Kind::malformedReadiness)},
        {R"({"event":"ready","url":"http://127.0.0.1:80/a b"})", failure(Kind::malformedReadiness)},
        {R"({"event":"ready"})", failure(Kind::malformedReadiness)},

        // Clicker listener.
        {R"({"event":"clicker-listener","enabled":true})", DesktopEvent::ClickerListener{true}},
        {R"({"event":"clicker-listener","enabled":1})", failure(Kind::malformedClickerListener)},

        // Clicker Distributor state and its invariant.
        {R"({"event":"clicker-distributor-state","enabled":true,"enabledGroupCount":2,"listenerRequired":true})",
         ClickerDistributorState{true, 2, true}},
        {R"({"event":"clicker-distributor-state","enabled":true,"enabledGroupCount":0,"listenerRequired":false})",
         ClickerDistributorState{true, 0, false}},
        {R"({"event":"clicker-distributor-state","enabled":true,"enabledGroupCount":2.0,"listenerRequired":true})",
         ClickerDistributorState{true, 2, true}},
        {R"({"event":"clicker-distributor-state","enabled":false,"enabledGroupCount":0,"listenerRequired":true})",
         failure(Kind::malformedClickerDistributorState)},
        {R"({"event":"clicker-distributor-state","enabled":true,"enabledGroupCount":2,"listenerRequired":false})",
         failure(Kind::malformedClickerDistributorState)},
        {R"({"event":"clicker-distributor-state","enabled":true,"enabledGroupCount":1.5,"listenerRequired":true})",
         failure(Kind::malformedClickerDistributorState)},
        {R"({"event":"clicker-distributor-state","enabled":true,"enabledGroupCount":9223372036854775808,"listenerRequired":true})",
         failure(Kind::malformedClickerDistributorState)},
        {R"({"event":"clicker-distributor-state","enabled":true,"enabledGroupCount":9223372036854775807,"listenerRequired":true})",
         ClickerDistributorState{true, 9223372036854775807, true}},

        // Clicker Distributor update results.
        {R"({"event":"clicker-distributor-update-result","requestId":"r1","ok":true,"enabled":false})",
         ClickerDistributorUpdateResult{"r1", true, false, std::nullopt}},
        {R"({"event":"clicker-distributor-update-result","requestId":"r1","ok":false,"enabled":true,"error":"no"})",
         ClickerDistributorUpdateResult{"r1", false, true, "no"}},
        {R"({"event":"clicker-distributor-update-result","requestId":"","ok":true,"enabled":true})",
         failure(Kind::malformedClickerDistributorUpdateResult)},
        {R"({"event":"clicker-distributor-update-result","requestId":"r1","ok":true,"enabled":true,"error":null})",
         failure(Kind::malformedClickerDistributorUpdateResult)},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(event(row.payload), row.expected) << row.payload;
    }
}

TEST(DesktopProtocolTest, ADeeplyNestedLineIsMalformedNotACrash) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(event("{\"event\":\"news\",\"x\":" + deep + "}"), failure(Kind::malformedEvent));
    const std::string shallow = std::string(60, '[') + std::string(60, ']');
    EXPECT_EQ(event("{\"event\":\"news\",\"x\":" + shallow + "}"), Result(DesktopEvent::Unknown{}));
}

TEST(DesktopProtocolTest, RequestIdentifiersAreCountedInUserPerceivedCharacters) {
    auto result = [](const std::string& requestId) {
        return event(nlohmann::json{
            {"event", "clicker-distributor-update-result"},
            {"requestId", requestId},
            {"ok", true},
            {"enabled",
             true}}.dump());
    };
    EXPECT_TRUE(result(std::string(128, 'a')).has_value());
    EXPECT_FALSE(result(std::string(129, 'a')).has_value());
    std::string accented;
    for (int index = 0; index < 128; ++index) {
        accented += "e\u0301";  // 256 code points, 128 characters
    }
    EXPECT_TRUE(result(accented).has_value());
    EXPECT_FALSE(result(accented + "x").has_value());
}

TEST(DesktopProtocolTest, SwitchCommandsCarryOnlyUsableRequestIdentifiers) {
    for (const std::string& unusable :
         {std::string(), std::string(129, 'a'), std::string("\xFF")}) {
        EXPECT_EQ(DesktopProtocol::setClickerDistributorEnabledCommand(true, unusable),
                  std::nullopt);
    }
    const std::string id = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    const auto line = DesktopProtocol::setClickerDistributorEnabledCommand(false, id);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->find('\n'), line->size() - 1);
    EXPECT_EQ(nlohmann::json::parse(*line),
              (nlohmann::json{{"command", "set-clicker-distributor-enabled"},
                              {"requestId", id},
                              {"enabled", false}}));
}

}  // namespace
}  // namespace kelvra
