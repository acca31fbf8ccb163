// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "clicker/KeyboardTapBackend.h"
#include "clicker/linux/InputDeviceLayer.h"

namespace kelvra {

/// Ends the name of every virtual copy the tap makes ("<keyboard name> (Kelvra Hub)"), so people
/// and other programs can tell it. The tap itself knows its copies by where uinput put them.
inline constexpr std::string_view kVirtualCopyNameSuffix = " (Kelvra Hub)";

/// The name of a keyboard's copy: the keyboard's name, shortened on a character boundary so
/// that the ending survives uinput's limit, then the ending.
std::string virtualCopyName(std::string_view keyboardName);

/// Modifier keys held across every keyboard the tap reads: Shift on the laptop keyboard and
/// Page Down on a clicker is Shift+Page Down.
class HeldModifiers {
public:
    void press(uint64_t flag) { adjust(flag, 1); }
    void release(uint64_t flag) { adjust(flag, -1); }
    uint64_t flags() const { return flags_; }

private:
    void adjust(uint64_t flag, int delta);

    // Held modifier keys per flag bit: shift, control, option, command.
    std::array<int, 4> counts_{};
    uint64_t flags_ = 0;
};

/// What the keyboards of one tap share while they handle events.
struct TapContext {
    /// The client of the run in progress; keyboards exist only during a run.
    KeyboardTapClient* client = nullptr;
    HeldModifiers modifiers;
    /// While the session is locked every key passes; key-ups are still shown to the client so
    /// the keys it holds end.
    bool locked = false;
};

/// How an attempt to take a keyboard ended.
enum class TakeResult : uint8_t {
    taken,
    /// A key is held on it; taken once every key is up.
    waiting,
    /// Another program has it; left alone.
    busy,
    /// The copy could not be made or the grab failed otherwise; left alone.
    failed,
};

/// One keyboard device the tap reads: grabbed, with a virtual copy that re-emits what passes,
/// once no key is held on it.
class TappedKeyboard {
public:
    /// `node` is where the device was listed when it was opened.
    TappedKeyboard(uint32_t id, const InputDeviceNode& node, std::unique_ptr<InputDevice> device,
                   TapContext& context);
    /// Releases the keyboard (`release`).
    ~TappedKeyboard();

    TappedKeyboard(const TappedKeyboard&) = delete;
    TappedKeyboard& operator=(const TappedKeyboard&) = delete;

    const std::string& path() const { return path_; }
    /// Whether `node` lists the device read here: the same node of the same input device, as
    /// far as both tell. The kernel gives a node freed by an unplugged device to the next one.
    bool reads(const InputDeviceNode& node) const;
    InputDevice& device() { return *device_; }
    bool isTaken() const { return copy_ != nullptr; }
    /// Whether `node` is this keyboard's own copy.
    bool isCopy(const InputDeviceNode& node) const;
    /// The copy's feedback descriptor, -1 while not taken.
    int feedbackDescriptor() const;
    /// No key is held on it, as its events tell.
    bool isIdle() const { return held_.none(); }
    /// The errno value of the last failed take.
    int lastError() const { return lastError_; }

    /// Grabs the device and creates its copy, if no key is held on it.
    TakeResult take();

    /// Reads and handles every waiting event. False when the device is gone or failed: the
    /// owner then drops it. A keyboard not yet taken is only followed (the desktop reads its
    /// events itself); the owner may take it after this returns, never in the middle of events
    /// already read, which the desktop has already had.
    bool service();

    /// Sends the desktop's LED changes on the copy back to the device.
    void forwardFeedback();

    /// Key-ups for every key the copy holds, then the grab is let go and the copy destroyed;
    /// the client forgets the keys it held, whose key-ups it will not be shown.
    void release();

private:
    void handleFrame();
    /// Whether the key event goes on to the copy.
    bool handleKey(const input_event& event, uint32_t scanCode, bool hasScanCode);
    void trackHeld(uint16_t code, int32_t value);

    const uint32_t id_;
    const std::string path_;
    const std::string sysPath_;
    std::unique_ptr<InputDevice> device_;
    TapContext& context_;
    std::unique_ptr<VirtualInputDevice> copy_;
    int lastError_ = 0;
    /// Keys down on the device as its events tell.
    EvdevKeySet held_;
    /// Keys down on the copy: exactly these get a key-up when the copy goes.
    EvdevKeySet copyHeld_;
    static constexpr uint16_t kNotPressed = 0xFFFF;
    /// The application key code each held key was decided as.
    std::array<uint16_t, KEY_CNT> pressedAs_{};
    std::vector<input_event> readBuffer_;
    std::vector<input_event> frame_;
    std::vector<input_event> output_;
};

}  // namespace kelvra
