// SPDX-License-Identifier: MIT
#include <algorithm>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <sys/eventfd.h>
#include <tuple>

#include "FakeInputDevices.h"
#include "clicker/ClickerKeystroke.h"
#include "clicker/linux/DeviceKeyboardTap.h"
#include "clicker/linux/LinuxKeyMap.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using testing::event;
using testing::FakeInputSystem;
using testing::FakeKeyboard;
using testing::FakeSessionLock;
using testing::frame;
using testing::RecordingLog;
using testing::RecordingTapClient;

using Triple = std::tuple<uint16_t, uint16_t, int32_t>;

std::vector<Triple> triples(const std::vector<input_event>& events) {
    std::vector<Triple> result;
    for (const input_event& each : events) {
        result.emplace_back(each.type, each.code, each.value);
    }
    return result;
}

std::vector<Triple> copied(const std::shared_ptr<FakeKeyboard>& keyboard) {
    return triples(keyboard->nextCopyFrame());
}

std::vector<Triple> keyFrame(std::initializer_list<std::pair<uint16_t, int32_t>> keys) {
    return triples(frame(keys));
}

std::shared_ptr<const KeyboardTapConfiguration> assigning(std::vector<uint16_t> keyCodes) {
    auto configuration = std::make_shared<KeyboardTapConfiguration>();
    for (const uint16_t keyCode : keyCodes) {
        configuration->assignedKeystrokes.push_back(ClickerKeystroke{keyCode, 0, ""});
    }
    return configuration;
}

constexpr uint16_t kF5 = 96;

class DeviceKeyboardTapTest : public ::testing::Test {
protected:
    ~DeviceKeyboardTapTest() override {
        if (outcome.valid()) {
            finish();
        }
    }

    /// Opens the tap, with our session at the seat or away from it, and runs it.
    void start(bool atSeat = true) {
        auto watch = std::make_unique<FakeSessionLock>(SessionState{.active = atSeat});
        lock = watch.get();
        tap = std::make_unique<DeviceKeyboardTap>(system->makeLayer(), std::move(watch), log);
        tap->setConfiguration(assigning({ClickerKeyCode::pageDown}));
        ASSERT_TRUE(tap->open().has_value());
        outcome = std::async(std::launch::async, [this] { return tap->run(stop.get(), client); });
    }

    /// Starts with this keyboard and waits until the tap has taken it.
    std::shared_ptr<FakeKeyboard> startTaking(std::string name) {
        auto keyboard = system->add(std::move(name));
        start();
        EXPECT_TRUE(keyboard->waitUntilTaken(true));
        return keyboard;
    }

    KeyboardTapRunOutcome finish() {
        eventfd_write(stop.get(), 1);
        return outcome.get();
    }

    std::vector<KeyboardTapEvent> eventsOf(uint16_t keyCode) const {
        std::vector<KeyboardTapEvent> matching;
        std::ranges::copy_if(client.events(), std::back_inserter(matching),
                             [&](const KeyboardTapEvent& each) { return each.keyCode == keyCode; });
        return matching;
    }

    std::shared_ptr<FakeInputSystem> system = std::make_shared<FakeInputSystem>();
    FakeSessionLock* lock = nullptr;  // owned by the tap
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    RecordingTapClient client{{ClickerKeyCode::pageDown, kF5}};
    std::unique_ptr<DeviceKeyboardTap> tap;
    UniqueFd stop{::eventfd(0, EFD_CLOEXEC)};
    std::future<KeyboardTapRunOutcome> outcome;
};

TEST_F(DeviceKeyboardTapTest, PassesWholeFramesWithoutTheConsumedKeysAndTheirScanCodes) {
    const auto clicker = startTaking("Clicker");
    // The start button remapped by the hardware database is F5 by its scan code; its key-up
    // carries none and is still the F5 that went down.
    clicker->send({event(EV_MSC, MSC_SCAN, 0x7003e), event(EV_KEY, KEY_PRESENTATION, 1),
                   event(EV_SYN, SYN_REPORT, 0)});
    clicker->send({event(EV_MSC, MSC_SCAN, 0x7004e), event(EV_KEY, KEY_PAGEDOWN, 1),
                   event(EV_SYN, SYN_REPORT, 0)});
    clicker->send(frame({{KEY_PAGEDOWN, 2}, {KEY_LEFTSHIFT, 1}}));
    clicker->send(frame({{KEY_PRESENTATION, 0}, {KEY_PAGEDOWN, 0}}));
    clicker->send(
        {event(EV_KEY, BTN_LEFT, 1), event(EV_REL, REL_X, 3), event(EV_SYN, SYN_REPORT, 0)});
    clicker->send(frame({{KEY_PAGEDOWN, 1}, {KEY_A, 1}}));
    EXPECT_EQ(copied(clicker), keyFrame({{KEY_LEFTSHIFT, 1}}));
    EXPECT_EQ(copied(clicker),
              (std::vector<Triple>{{EV_KEY, BTN_LEFT, 1}, {EV_REL, REL_X, 3}, {EV_SYN, 0, 0}}));
    EXPECT_EQ(copied(clicker), keyFrame({{KEY_A, 1}}));

    // The button is never decided on.
    using Shown = std::tuple<uint16_t, KeyTransition, uint64_t>;
    std::vector<Shown> shown;
    for (const KeyboardTapEvent& each : client.events()) {
        shown.emplace_back(each.keyCode, each.transition, each.modifierFlags);
    }
    const uint16_t shift = LinuxKeyMap::keyCodeFromEvdev(KEY_LEFTSHIFT);
    const uint64_t shifted = ClickerModifierFlags::shift;
    EXPECT_EQ(shown, (std::vector<Shown>{{kF5, KeyTransition::down, 0},
                                         {ClickerKeyCode::pageDown, KeyTransition::down, 0},
                                         {ClickerKeyCode::pageDown, KeyTransition::repeat, 0},
                                         {shift, KeyTransition::down, shifted},
                                         {kF5, KeyTransition::up, shifted},
                                         {ClickerKeyCode::pageDown, KeyTransition::up, shifted},
                                         {ClickerKeyCode::pageDown, KeyTransition::down, shifted},
                                         {0, KeyTransition::down, shifted}}));
}

TEST_F(DeviceKeyboardTapTest, AKeyboardBackAtItsOldNodeIsTakenWhicheverNewsOfTheOldOneComesFirst) {
    const auto clicker = startTaking("Clicker");
    const auto usb = system->plug("USB Keyboard");
    ASSERT_TRUE(usb->waitUntilTaken(true));
    usb->send(frame({{KEY_LEFTSHIFT, 1}}));
    EXPECT_EQ(copied(usb), keyFrame({{KEY_LEFTSHIFT, 1}}));

    // Pulled out and plugged back in at once: the new device gets the old one's node, reads of
    // the old one fail, and udev tells of its removal only after the new one is taken.
    usb->unplug();
    const auto back = system->replug(usb);
    EXPECT_EQ(copied(usb), keyFrame({{KEY_LEFTSHIFT, 0}}));
    ASSERT_TRUE(back->waitUntilTaken(true));
    back->send(frame({{KEY_LEFTSHIFT, 1}}));
    EXPECT_EQ(copied(back), keyFrame({{KEY_LEFTSHIFT, 1}}));
    system->announceRemoval(usb);
    ASSERT_TRUE(system->plug("Sentinel")->waitUntilTaken(true));  // the tap has caught up

    // The keyboard that came back is still read, with its Shift held.
    back->send(frame({{KEY_X, 1}}));
    EXPECT_EQ(copied(back), keyFrame({{KEY_X, 1}}));
    clicker->send(frame({{KEY_PAGEDOWN, 1}}));
    clicker->send(frame({{KEY_PAGEDOWN, 0}, {KEY_B, 1}}));
    EXPECT_EQ(copied(clicker), keyFrame({{KEY_B, 1}}));
    // The Shift held on that keyboard applies to the clicker, another device.
    EXPECT_EQ(eventsOf(ClickerKeyCode::pageDown)[0].modifierFlags, ClickerModifierFlags::shift);

    // Once more, with the next device at the node listed before reads of the old one fail: the
    // old one's keys end there and then.
    const auto again = system->replug(back);
    ASSERT_TRUE(again->waitUntilTaken(true));
    EXPECT_EQ(copied(back), keyFrame({{KEY_LEFTSHIFT, 0}, {KEY_X, 0}}));
    clicker->send(frame({{KEY_B, 0}, {KEY_PAGEDOWN, 1}}));
    clicker->send(frame({{KEY_PAGEDOWN, 0}, {KEY_C, 1}}));
    EXPECT_EQ(copied(clicker), keyFrame({{KEY_B, 0}}));
    EXPECT_EQ(copied(clicker), keyFrame({{KEY_C, 1}}));
    EXPECT_EQ(eventsOf(ClickerKeyCode::pageDown)[2].modifierFlags, 0u);
    back->unplug();
}

// A copy that stops taking events gives its keyboard back to the desktop until its keys are up;
// the keys it held are then decided afresh.
TEST_F(DeviceKeyboardTapTest, AKeyboardWhoseCopyBreaksIsTheDesktopsUntilItsKeysAreUp) {
    const auto laptop = startTaking("Laptop Keyboard");
    laptop->send(frame({{KEY_PAGEDOWN, 1}}));
    laptop->copyWriteFails = true;
    laptop->send(frame({{KEY_W, 1}}));
    ASSERT_TRUE(laptop->waitUntilTaken(false));
    laptop->copyWriteFails = false;
    laptop->send(frame({{KEY_PAGEDOWN, 0}, {KEY_W, 0}}));
    ASSERT_TRUE(laptop->waitUntilTaken(true));
    EXPECT_EQ(client.heldCount(), 0u);
    EXPECT_EQ(finish(), KeyboardTapRunOutcome::stopped);
}

TEST_F(DeviceKeyboardTapTest, LeavesAKeyboardItCannotTakeAloneAndSaysSoOnce) {
    const auto held = system->add("Remapped Keyboard");
    held->grabError = EBUSY;
    const auto broken = system->add("Broken Keyboard");
    broken->copyError = EIO;  // a grab without a copy would swallow every key
    // A clicker with only a few keys is no keyboard to udev, and the access rule may miss it.
    system->add("Presenter", false, {KEY_PAGEDOWN})->openError = EACCES;
    system->add("Mouse", false)->openError = EACCES;  // none of ours
    start();
    const auto mentioning = [&](std::string_view name) {
        return std::ranges::count_if(log->lines(),
                                     [&](const auto& each) { return each.contains(name); });
    };
    ASSERT_TRUE(testing::eventually([&] { return mentioning("Remapped Keyboard") > 0; }));

    // A new configuration looks at every device again; none is reported again. The presenter and
    // the copy's failure are reported too, with their reasons.
    const auto clicker = system->add("Clicker", false, {KEY_F5});
    tap->setConfiguration(assigning({kF5}));
    ASSERT_TRUE(clicker->waitUntilTaken(true));
    EXPECT_EQ(log->lines().size(), 3u);
    for (const char* name : {"Remapped Keyboard", "Broken Keyboard", "Presenter"}) {
        EXPECT_EQ(mentioning(name), 1) << name;
    }
    EXPECT_FALSE(held->isGrabbed());
    EXPECT_FALSE(broken->isGrabbed());

    // A device going away may be the other program letting go: it is looked at again.
    held->grabError = 0;
    system->remove(broken);
    EXPECT_TRUE(held->waitUntilTaken(true));
}

TEST_F(DeviceKeyboardTapTest,
       HoldsTheKeyboardsOnlyWhileOurSessionIsAtTheSeatAndPassesAllWhileLocked) {
    // Started while someone else is there: the seat lets us open nothing until we return.
    const auto laptop = system->add("Laptop Keyboard");
    laptop->openError = EACCES;
    start(false);
    laptop->openError = 0;
    lock->setActive(true);
    ASSERT_TRUE(laptop->waitUntilTaken(true));
    laptop->send(frame({{KEY_PAGEDOWN, 1}}));
    laptop->send(frame({{KEY_LEFTSHIFT, 1}}));
    EXPECT_EQ(copied(laptop), keyFrame({{KEY_LEFTSHIFT, 1}}));

    // Switched to another user or a text console: nothing held, grabbed, copied or open.
    lock->setActive(false);
    EXPECT_EQ(copied(laptop), keyFrame({{KEY_LEFTSHIFT, 0}}));
    ASSERT_TRUE(laptop->waitUntilClosed());
    EXPECT_EQ(client.heldCount(), 0u);
    const auto plugged = system->plug("USB Keyboard");

    lock->setActive(true);
    EXPECT_TRUE(laptop->waitUntilTaken(true));
    EXPECT_TRUE(plugged->waitUntilTaken(true));

    // Away and back before the tap looked: the seat took the keyboard meanwhile, so it is
    // given up and taken anew (read as another device).
    const auto pressPageDown = [&] {
        const size_t seen = eventsOf(ClickerKeyCode::pageDown).size();
        laptop->send(frame({{KEY_PAGEDOWN, 1}}));
        laptop->send(frame({{KEY_PAGEDOWN, 0}}));
        EXPECT_TRUE(testing::eventually(
            [&] { return eventsOf(ClickerKeyCode::pageDown).size() == seen + 2; }));
        return eventsOf(ClickerKeyCode::pageDown).back().device;
    };
    const uint32_t before = pressPageDown();
    lock->change({{.locked = false, .active = false}, {.locked = false, .active = true}});
    EXPECT_NE(pressPageDown(), before);

    // Locked, everything passes; only the key-up is shown, so the client's held keys end.
    const size_t shown = eventsOf(ClickerKeyCode::pageDown).size();
    lock->set(true);
    laptop->send(frame({{KEY_PAGEDOWN, 1}}));
    EXPECT_EQ(copied(laptop), keyFrame({{KEY_PAGEDOWN, 1}}));
    lock->set(false);
    laptop->send(frame({{KEY_PAGEDOWN, 0}}));
    EXPECT_EQ(copied(laptop), keyFrame({{KEY_PAGEDOWN, 0}}));
    ASSERT_EQ(eventsOf(ClickerKeyCode::pageDown).size(), shown + 1);
    EXPECT_EQ(eventsOf(ClickerKeyCode::pageDown).back().transition, KeyTransition::up);
}

// Found on taking the keyboard; or, started while another session was at the seat, on coming
// to it, when uinput is first looked at; or once the last keyboard no longer opens.
TEST_F(DeviceKeyboardTapTest, EndsWhenNoCopyMayBeMadeOrTheLastKeyboardNoLongerOpens) {
    enum Way { copyRefused, noUinputOnComingToTheSeat, accessRevoked };
    for (const Way way : {copyRefused, noUinputOnComingToTheSeat, accessRevoked}) {
        SCOPED_TRACE(way);
        system = std::make_shared<FakeInputSystem>();
        const auto laptop = system->add("Laptop Keyboard");
        laptop->copyError = way == copyRefused ? EACCES : 0;
        system->virtualDeviceError = way == noUinputOnComingToTheSeat ? ENOENT : 0;
        start(way != noUinputOnComingToTheSeat);
        lock->setActive(true);
        if (way == accessRevoked) {
            ASSERT_TRUE(laptop->waitUntilTaken(true));
            laptop->openError = EACCES;
            laptop->unplug();  // the node stays but no longer opens
        }
        ASSERT_EQ(outcome.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(outcome.get(), KeyboardTapRunOutcome::sourceLost);
        EXPECT_FALSE(laptop->isGrabbed());
    }
}

// A presenter with only Page Up and Page Down is no keyboard to udev, and an access rule for
// keyboards alone leaves it closed: its keys would reach the focused application. So files count
// as open only when every device with an assigned key opens.
TEST(DeviceKeyboardTapOpenTest, OpensOnlyWhenCopiesCanBeMadeAndTheDevicesWithAssignedKeysOpen) {
    struct Row {
        const char* name;
        bool opens = true;
        std::optional<bool> filesOpen = true;
        int virtualDeviceError = 0;
        std::vector<int> keyboardOpenErrors = {0};
        std::optional<int> presenterOpenError = std::nullopt;  // absent: no presenter
        std::vector<uint16_t> assigned = {kF5};
        bool atSeat = true;
        bool seatGivesKeyboards = true;
    };
    const Row rows[] = {
        {.name = "one keyboard"},
        {.name = "no uinput", .opens = false, .filesOpen = false, .virtualDeviceError = ENOENT},
        {.name = "every keyboard denied",
         .opens = false,
         .filesOpen = false,
         .keyboardOpenErrors = {EACCES, EACCES}},
        {.name = "one of two denied", .filesOpen = false, .keyboardOpenErrors = {EACCES, 0}},
        {.name = "no keyboard yet", .filesOpen = false, .keyboardOpenErrors = {}},
        // Another session's meanwhile: nothing is opened, and the run takes them on return.
        {.name = "away from the seat",
         .filesOpen = std::nullopt,
         .virtualDeviceError = EACCES,
         .keyboardOpenErrors = {EACCES},
         .atSeat = false},
        {.name = "away from a seat that will not give them",
         .opens = false,
         .filesOpen = std::nullopt,
         .keyboardOpenErrors = {EACCES},
         .atSeat = false,
         .seatGivesKeyboards = false},
        {.name = "presenter closed",
         .filesOpen = false,
         .presenterOpenError = EACCES,
         .assigned = {kF5, ClickerKeyCode::pageDown}},
        {.name = "presenter open", .presenterOpenError = 0, .assigned = {ClickerKeyCode::pageDown}},
        {.name = "presenter alone",
         .keyboardOpenErrors = {},
         .presenterOpenError = 0,
         .assigned = {ClickerKeyCode::pageUp}},
        {.name = "presenter's keys unassigned", .presenterOpenError = EACCES},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto system = std::make_shared<FakeInputSystem>();
        system->virtualDeviceError = row.virtualDeviceError;
        for (const int error : row.keyboardOpenErrors) {
            const auto keyboard = system->add("Keyboard");
            keyboard->openError = error;
            keyboard->givenBySeat = row.seatGivesKeyboards;
        }
        if (row.presenterOpenError) {
            system->add("Presenter", false, {KEY_PAGEUP, KEY_PAGEDOWN})->openError =
                *row.presenterOpenError;
        }
        system->add("Mouse", false)->openError = EACCES;  // not ours to need
        auto seat = std::make_unique<FakeSessionLock>(SessionState{.active = row.atSeat});
        EXPECT_EQ(deviceKeyboardFilesOpen(*system->makeLayer(), *seat, *assigning(row.assigned)),
                  row.filesOpen);
        DeviceKeyboardTap tap(system->makeLayer(), std::move(seat),
                              std::make_shared<RecordingLog>());
        EXPECT_EQ(tap.open().has_value(), row.opens);
    }
}

}  // namespace
}  // namespace kelvra
