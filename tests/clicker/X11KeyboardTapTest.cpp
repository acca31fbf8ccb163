// SPDX-License-Identifier: MIT
// Runs under `xvfb-run -a`: a real X server, real clients and key presses through XTEST.
#include <X11/keysym.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <xcb/xcb.h>

#include "clicker/FakeKeyboardTap.h"
#include "clicker/linux/X11KeyboardTap.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using State = ClickerInputListenerState;

constexpr xcb_keycode_t kNextKeycode = 109 + 8;      // Page Down
constexpr xcb_keycode_t kPreviousKeycode = 104 + 8;  // Page Up
constexpr xcb_keycode_t kAKeycode = 30 + 8;

/// The decision engine as a tap's own client, without a listener around it, so that a test can
/// switch the engine's recording apart from the tap's grabs, as happens for a moment whenever
/// recording begins or ends.
struct EngineClient final : KeyboardTapClient {
    KeyboardTapDecision decide(const KeyboardTapEvent& event) override {
        const auto decision = engine.decide(event);
        delivered += decision.input ? 1 : 0;
        return decision.tap;
    }
    void forgetDevice(uint32_t device) override { engine.forgetDevice(device); }
    void reportConflicts(std::vector<ClickerKeystroke>) override {}

    ClickerKeyDecisionEngine engine;
    std::atomic<size_t> delivered{0};
};

/// A focused top-level window of a client of its own, which records the keys it receives.
class TestWindow {
public:
    TestWindow() {
        if (xcb_connection_has_error(connection) != 0) {
            return;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        root = screen->root;
        const xcb_window_t window = xcb_generate_id(connection);
        const uint32_t events =
            XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 0, 0, 200, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                          &events);
        xcb_map_window(connection, window);
        xcb_flush(connection);
        waitFor([](const xcb_generic_event_t& event) {
            return (event.response_type & 0x7F) == XCB_MAP_NOTIFY;
        });
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        keys.clear();
    }
    ~TestWindow() { xcb_disconnect(connection); }

    struct Key {
        bool press;
        xcb_keycode_t keycode;
        friend bool operator==(const Key&, const Key&) = default;
    };

    /// Reads events until `condition` holds for one of them; false after ten seconds.
    template <typename Condition>
    bool waitFor(Condition condition) {
        return kelvra::testing::eventually(
            [&] {
                while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                    const uint8_t type = event->response_type & 0x7F;
                    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                        keys.push_back({type == XCB_KEY_PRESS,
                                        reinterpret_cast<xcb_key_press_event_t*>(event)->detail});
                    }
                    const bool done = condition(*event);
                    free(event);
                    if (done) {
                        return true;
                    }
                }
                return false;
            },
            10s);
    }

    /// Waits for the release of `keycode`, which every key typed after the keys under test
    /// reaches the window with, so everything before it has been delivered.
    bool waitForRelease(xcb_keycode_t keycode) {
        return waitFor([&](const xcb_generic_event_t& event) {
            return (event.response_type & 0x7F) == XCB_KEY_RELEASE &&
                   reinterpret_cast<const xcb_key_release_event_t&>(event).detail == keycode;
        });
    }

    xcb_connection_t* const connection = xcb_connect(nullptr, nullptr);
    xcb_window_t root = 0;
    std::vector<Key> keys;
};

class X11KeyboardTapTest : public ::testing::Test, protected kelvra::testing::RecordedMonitor {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X server: run under xvfb-run -a";
        }
        window = std::make_unique<TestWindow>();
        // Xvfb must run with -noreset: a server that resets when its last client leaves refuses
        // the next test's clients for a moment.
        ASSERT_EQ(xcb_connection_has_error(window->connection), 0);
    }

    void TearDown() override {
        if (monitor) {
            monitor->stop();
            monitor->join();
        }
    }

    static Environment x11Environment() {
        // Xvfb is a plain X server even when the tests run from a Wayland desktop.
        Environment environment = currentEnvironment();
        environment.erase("WAYLAND_DISPLAY");
        environment.erase("XDG_SESSION_TYPE");
        return environment;
    }

    void startMonitor() {
        monitor = make({{}, [] { return makeX11KeyboardTap(x11Environment()); }}, "x11");
        monitor->start(nullptr);
        ASSERT_TRUE(runUntilState(State::listening));
    }

    static void xdotool(std::vector<std::string> arguments) {
        std::map<std::string, std::string> environment = {{"DISPLAY", std::getenv("DISPLAY")}};
        if (const char* authority = std::getenv("XAUTHORITY")) {
            environment["XAUTHORITY"] = authority;
        }
        const auto result = kelvra::testing::runProcess("/usr/bin/xdotool", arguments, environment);
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    }

    /// Grabs Page Down for the test window's own client, as another program would.
    bool grabPageDownElsewhere() {
        xcb_connection_t* other = window->connection;
        xcb_generic_error_t* error = xcb_request_check(
            other, xcb_grab_key_checked(other, 1, window->root, 0, kNextKeycode,
                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        free(error);
        return error == nullptr;
    }

    /// Whether another client could grab Page Down now; the grab is let go at once, and before
    /// this returns, so that the tap's next grab cannot meet it.
    bool pageDownFree() {
        const bool free = grabPageDownElsewhere();
        if (free) {
            xcb_ungrab_key(window->connection, kNextKeycode, window->root, 0);
            std::free(xcb_get_input_focus_reply(window->connection,
                                                xcb_get_input_focus(window->connection), nullptr));
        }
        return free;
    }

    /// The tap grabs once it runs, a moment after it reports listening: press Page Down until
    /// it is delivered, then forget what the window saw meanwhile.
    void waitUntilGrabbed() {
        ASSERT_TRUE(kelvra::testing::eventually(
            [&] {
                xdotool({"key", "Next"});
                return waitForInputs(1, 500ms);  // a press before the grab reached the window
            },
            10s));
        xdotool({"key", "a"});
        ASSERT_TRUE(window->waitForRelease(kAKeycode));
        window->keys.clear();
        std::lock_guard lock(mutex);
        inputs.clear();
    }

    std::unique_ptr<TestWindow> window;
    std::shared_ptr<ClickerInputMonitor> monitor;
};

TEST_F(X11KeyboardTapTest, AnAssignedKeyIsDeliveredOnceAndNeverReachesTheWindowWhateverTheLocks) {
    startMonitor();
    waitUntilGrabbed();
    // Held long enough for the server's auto-repeat to begin.
    xdotool({"keydown", "Next", "sleep", "1", "keyup", "Next"});
    xdotool({"key", "shift+Next", "a"});
    ASSERT_TRUE(window->waitForRelease(kAKeycode));
    ASSERT_TRUE(waitForInputs(1));
    EXPECT_THAT(inputs, ::testing::ElementsAre(ClickerCapturedInput(ClickerDirection::right)));
    // Shift+Page Down is not assigned and reaches the window, as does the A key.
    constexpr xcb_keycode_t kShiftKeycode = 42 + 8;
    EXPECT_EQ(window->keys, (std::vector<TestWindow::Key>{{true, kShiftKeycode},
                                                          {true, kNextKeycode},
                                                          {false, kShiftKeycode},
                                                          {false, kNextKeycode},
                                                          {true, kAKeycode},
                                                          {false, kAKeycode}}));

    // Lock modifiers do not let an assigned key through either.
    for (const char* lock : {"Caps_Lock", "Num_Lock"}) {
        xdotool({"key", lock, "Prior", lock, "a"});
        ASSERT_TRUE(window->waitForRelease(kAKeycode)) << lock;
    }
    ASSERT_TRUE(waitForInputs(3));
    EXPECT_THAT(inputs, ::testing::ElementsAre(ClickerCapturedInput(ClickerDirection::right),
                                               ClickerCapturedInput(ClickerDirection::left),
                                               ClickerCapturedInput(ClickerDirection::left)));
    EXPECT_EQ(std::ranges::count(window->keys, kPreviousKeycode, &TestWindow::Key::keycode), 0);
}

TEST_F(X11KeyboardTapTest, AKeyAnotherClientGrabbedIsAConflict) {
    ASSERT_TRUE(grabPageDownElsewhere());
    startMonitor();
    ASSERT_TRUE(mainThread->runUntil([&] { return !conflicts.empty(); }, 10s));
    ASSERT_EQ(conflicts.back().size(), 1u);
    EXPECT_EQ(conflicts.back()[0].keyCode, ClickerKeyCode::pageDown);
}

TEST_F(X11KeyboardTapTest, RecordingReleasesTheGrabs) {
    startMonitor();
    waitUntilGrabbed();
    monitor->setRecordingRequired(true);
    // Only once the tap has let go can another client take the same grab.
    ASSERT_TRUE(mainThread->runUntil([&] { return pageDownFree(); }, 10s));
    monitor->setRecordingRequired(false);
    waitUntilGrabbed();
}

TEST_F(X11KeyboardTapTest, AnAssignedKeyThatPassedOnceIsReservedAgainAfterwards) {
    struct Row {
        const char* name;
        bool beganRecording;  // tap and engine
        bool engineRecording;
        size_t delivered;
        const char* key;  // what is typed again afterwards, and reaches the window first
        std::vector<std::string> typed;
    };
    // As recording begins the engine passes a key the tap still grabs; as it ends the tap grabs
    // before the engine stops passing; a key pressed while another key's grab is active is
    // released after that grab ended (the "grab" row).
    const Row rows[] = {
        {"recording begins", false, true, 0, "Next", {"key", "Next"}},
        {"recording ends", true, true, 0, "Next", {"key", "Next"}},
        {"grab", false, false, 2, "Prior", {"keydown", "Next", "Prior", "keyup", "Next", "Prior"}},
    };
    const auto grabbing = [](bool recording) {
        return ClickerInputMonitor::tapConfiguration(ClickerInputConfiguration::defaults(),
                                                     recording);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EngineClient client;
        client.engine.setRecording(row.beganRecording);
        const std::shared_ptr<KeyboardTapBackend> tap = makeX11KeyboardTap(x11Environment());
        tap->setConfiguration(grabbing(row.beganRecording));
        ASSERT_TRUE(tap->open().has_value());
        const UniqueFd stop(::eventfd(0, EFD_CLOEXEC));
        auto run = std::async(std::launch::async, [&] { return tap->run(stop.get(), client); });
        // Until the tap holds its grabs (a grab refused meanwhile is retried with each change).
        EXPECT_TRUE(kelvra::testing::eventually([&] {
            tap->setConfiguration(grabbing(false));
            return !pageDownFree();
        }));

        client.engine.setRecording(row.engineRecording);
        xdotool(row.typed);
        const auto keycode = row.key == std::string("Next") ? kNextKeycode : kPreviousKeycode;
        EXPECT_TRUE(window->waitForRelease(keycode));
        EXPECT_TRUE(kelvra::testing::eventually([&] { return client.delivered == row.delivered; }));
        client.engine.setRecording(false);
        xdotool({"key", row.key});
        EXPECT_TRUE(kelvra::testing::eventually([&] { return client.delivered > row.delivered; }));

        eventfd_write(stop.get(), 1);
        EXPECT_EQ(run.get(), KeyboardTapRunOutcome::stopped);
    }
}

TEST(X11KeyboardTapChoiceTest, AWaylandSessionNeverGetsTheX11Tap) {
    // XWayland's grabs miss Wayland windows, and Debian's XWayland does not say what it is.
    const Environment sessions[] = {
        {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}},
        {{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}},
    };
    for (const auto& session : sessions) {
        EXPECT_EQ(makeX11KeyboardTap(session), nullptr);
    }
    EXPECT_NE(makeX11KeyboardTap({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}), nullptr);
}

}  // namespace
}  // namespace kelvra
