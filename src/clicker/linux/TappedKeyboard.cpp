// SPDX-License-Identifier: MIT
#include "clicker/linux/TappedKeyboard.h"

#include <bit>
#include <cerrno>

#include "clicker/linux/LinuxKeyMap.h"

namespace kelvra {
namespace {

// Enough for several whole frames of a keyboard; a longer burst is read in turns.
constexpr size_t kReadCapacity = 64;

/// Buttons (mouse, joystick, pen) are no keys: they pass untouched and are never decided on.
constexpr bool isButton(uint16_t code) {
    return code == KEY_RESERVED || (code >= BTN_MISC && code < KEY_OK) ||
           (code >= BTN_TRIGGER_HAPPY && code <= BTN_TRIGGER_HAPPY40);
}

input_event makeEvent(uint16_t type, uint16_t code, int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

}  // namespace

std::string virtualCopyName(std::string_view keyboardName) {
    constexpr size_t kRoom = kVirtualDeviceNameCapacity - kVirtualCopyNameSuffix.size();
    if (keyboardName.size() > kRoom) {
        size_t cut = kRoom;
        // Back to the first byte of the character the limit falls in.
        while (cut > 0 && (static_cast<unsigned char>(keyboardName[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        keyboardName = keyboardName.substr(0, cut);
    }
    return std::string(keyboardName) + std::string(kVirtualCopyNameSuffix);
}

void HeldModifiers::adjust(uint64_t flag, int delta) {
    if (flag == 0) {
        return;
    }
    // The four flags are consecutive bits from shift (0x20000) to command (0x100000).
    const auto index = static_cast<size_t>(std::countr_zero(flag) - 17);
    if (index >= counts_.size()) {
        return;
    }
    counts_[index] += delta;
    if (counts_[index] > 0) {
        flags_ |= flag;
    } else {
        counts_[index] = 0;
        flags_ &= ~flag;
    }
}

TappedKeyboard::TappedKeyboard(uint32_t id, const InputDeviceNode& node,
                               std::unique_ptr<InputDevice> device, TapContext& context)
    : id_(id),
      path_(node.path),
      sysPath_(node.sysPath),
      device_(std::move(device)),
      context_(context) {
    pressedAs_.fill(kNotPressed);
    readBuffer_.resize(kReadCapacity);
    frame_.reserve(kReadCapacity);
    output_.reserve(kReadCapacity + KEY_CNT);
    const EvdevKeySet held = device_->heldKeys();
    for (uint16_t code = 0; code < KEY_CNT; ++code) {
        if (held.test(code)) {
            trackHeld(code, 1);
        }
    }
}

TappedKeyboard::~TappedKeyboard() {
    release();
    for (uint16_t code = 0; code < KEY_CNT; ++code) {
        if (held_.test(code)) {
            trackHeld(code, 0);
        }
    }
}

bool TappedKeyboard::reads(const InputDeviceNode& node) const {
    return node.path == path_ &&
           (node.sysPath.empty() || sysPath_.empty() || node.sysPath == sysPath_);
}

bool TappedKeyboard::isCopy(const InputDeviceNode& node) const {
    return copy_ && ((!copy_->path().empty() && copy_->path() == node.path) ||
                     (!copy_->sysPath().empty() && copy_->sysPath() == node.sysPath));
}

int TappedKeyboard::feedbackDescriptor() const {
    return copy_ ? copy_->feedbackDescriptor() : -1;
}

TakeResult TappedKeyboard::take() {
    if (copy_) {
        return TakeResult::taken;
    }
    if (device_->heldKeys().any()) {
        return TakeResult::waiting;
    }
    // Grab first: a keyboard another program has is then left without a copy ever appearing,
    // and what is typed while the copy is being made waits in the device's queue for it.
    if (const int error = device_->grab(); error != 0) {
        lastError_ = error;
        return error == EBUSY ? TakeResult::busy : TakeResult::failed;
    }
    // A key pressed between the check and the grab went down in the desktop, which would then
    // never see its key-up: let go and wait for the keyboard to be idle.
    if (device_->heldKeys().any()) {
        device_->ungrab();
        return TakeResult::waiting;
    }
    auto copy = device_->createCopy(virtualCopyName(device_->name()));
    if (!copy) {
        device_->ungrab();
        lastError_ = copy.error();
        return TakeResult::failed;
    }
    copy_ = std::move(*copy);
    copyHeld_.reset();
    return TakeResult::taken;
}

bool TappedKeyboard::service() {
    for (;;) {
        const InputReadResult result = device_->read(readBuffer_);
        for (size_t index = 0; index < result.count; ++index) {
            const input_event& event = readBuffer_[index];
            frame_.push_back(event);
            if ((event.type == EV_SYN && event.code == SYN_REPORT) ||
                frame_.size() == kReadCapacity) {
                handleFrame();
                frame_.clear();
            }
        }
        if (result.status != InputReadStatus::drained) {
            return false;
        }
        if (result.count < readBuffer_.size()) {
            break;
        }
    }
    return true;
}

void TappedKeyboard::handleFrame() {
    if (!copy_) {
        // Not ours yet: the desktop reads these events itself; only follow the held keys.
        for (const input_event& event : frame_) {
            if (event.type == EV_KEY) {
                trackHeld(event.code, event.value);
            }
        }
        return;
    }
    output_.clear();
    uint32_t scanCode = 0;
    bool hasScanCode = false;
    for (const input_event& event : frame_) {
        if (event.type == EV_MSC && event.code == MSC_SCAN) {
            scanCode = static_cast<uint32_t>(event.value);
            hasScanCode = true;
            output_.push_back(event);
            continue;
        }
        if (event.type == EV_KEY) {
            const bool forward = handleKey(event, scanCode, hasScanCode);
            if (!forward && hasScanCode && !output_.empty() && output_.back().type == EV_MSC &&
                output_.back().code == MSC_SCAN) {
                output_.pop_back();  // the scan code belongs to the consumed key
            }
            if (forward) {
                output_.push_back(event);
            }
            hasScanCode = false;
            continue;
        }
        if (event.type == EV_SYN && event.code == SYN_REPORT) {
            // A frame left empty by a consumed key is not sent at all.
            if (!output_.empty()) {
                output_.push_back(event);
            }
            continue;
        }
        output_.push_back(event);
    }
    if (!output_.empty() && !copy_->write(output_)) {
        // The copy is broken: letting go returns the keyboard to the desktop.
        release();
    }
}

bool TappedKeyboard::handleKey(const input_event& event, uint32_t scanCode, bool hasScanCode) {
    const uint16_t code = event.code;
    trackHeld(code, event.value);
    if (isButton(code) || code >= KEY_CNT || event.value < 0 || event.value > 2) {
        return true;
    }
    const auto transition = event.value == 1   ? KeyTransition::down
                            : event.value == 2 ? KeyTransition::repeat
                                               : KeyTransition::up;
    // Repeats and the key-up keep the key code of their key-down, which a scan code may have
    // named: the decision follows the press, whatever the later events carry.
    uint16_t keyCode = pressedAs_[code];
    if (transition == KeyTransition::down || keyCode == kNotPressed) {
        keyCode = LinuxKeyMap::keyCodeFromEvdev(
            code, hasScanCode ? std::optional<uint32_t>(scanCode) : std::nullopt);
    }
    pressedAs_[code] = transition == KeyTransition::up ? kNotPressed : keyCode;
    KeyboardTapDecision decision = KeyboardTapDecision::pass;
    if (!context_.locked || transition == KeyTransition::up) {
        const KeyboardTapEvent tapEvent{
            .device = id_,
            .keyCode = keyCode,
            .transition = transition,
            .modifierFlags = context_.modifiers.flags(),
        };
        decision = context_.client->decide(tapEvent);
        if (context_.locked) {
            decision = KeyboardTapDecision::pass;
        }
    }
    // A key the copy holds always gets its key-up, whatever the decision, so no key stays down.
    const bool forward = decision == KeyboardTapDecision::pass ||
                         (transition == KeyTransition::up && copyHeld_.test(code));
    if (forward && transition != KeyTransition::repeat) {
        copyHeld_.set(code, transition == KeyTransition::down);
    }
    return forward;
}

void TappedKeyboard::trackHeld(uint16_t code, int32_t value) {
    if (code >= KEY_CNT || value == 2 || held_.test(code) == (value != 0)) {
        return;
    }
    held_.set(code, value != 0);
    const uint64_t flag = LinuxKeyMap::modifierFlagOfEvdev(code);
    if (value != 0) {
        context_.modifiers.press(flag);
    } else {
        context_.modifiers.release(flag);
    }
}

void TappedKeyboard::forwardFeedback() {
    if (!copy_) {
        return;
    }
    std::array<input_event, 16> feedback{};
    size_t count = 0;
    while ((count = copy_->readFeedback(feedback)) > 0) {
        for (size_t index = 0; index < count; ++index) {
            if (feedback[index].type == EV_LED) {
                device_->setLed(feedback[index].code, feedback[index].value);
            }
        }
        if (count < feedback.size()) {
            break;
        }
    }
}

void TappedKeyboard::release() {
    if (!copy_) {
        return;
    }
    output_.clear();
    for (uint16_t code = 0; code < KEY_CNT; ++code) {
        if (copyHeld_.test(code)) {
            output_.push_back(makeEvent(EV_KEY, code, 0));
        }
    }
    if (!output_.empty()) {
        output_.push_back(makeEvent(EV_SYN, SYN_REPORT, 0));
        copy_->write(output_);
    }
    copyHeld_.reset();
    device_->ungrab();
    copy_.reset();
    if (context_.client != nullptr) {
        context_.client->forgetDevice(id_);
    }
}

}  // namespace kelvra
