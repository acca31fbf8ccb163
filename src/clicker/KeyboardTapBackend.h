// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clicker/ClickerKeystroke.h"

namespace kelvra {

/// Whether a key event starts, repeats or ends a press. A repeat whose key the decision has not
/// seen go down means the key was already held when the tap began.
enum class KeyTransition : uint8_t { down, repeat, up };

/// One key event as every tap backend reports it, already translated into application key codes.
struct KeyboardTapEvent {
    /// The backend's own number for the keyboard the event came from; a key is identified by its
    /// device and key code, so the same key held on two keyboards is two held keys.
    uint32_t device = 0;
    /// The application key code (`LinuxKeyMap`).
    uint16_t keyCode = 0;
    KeyTransition transition = KeyTransition::down;
    /// Shift, control, option and command held at the time of the event, on any keyboard the
    /// backend reads (Shift on the laptop keyboard and Page Down on a clicker is Shift+Page Down).
    uint64_t modifierFlags = 0;
};

/// What the backend does with the event: hand it on to the session unchanged, or drop it.
enum class KeyboardTapDecision : uint8_t { pass, consume };

/// What a tap needs to know of the configuration. Immutable once handed to a backend; the owner
/// replaces it whole.
struct KeyboardTapConfiguration {
    /// Every assigned keystroke (Previous, Next, the custom rows that have one). The X11 tap
    /// grabs exactly these; the device tap takes a device whose keys include any of them.
    std::vector<ClickerKeystroke> assignedKeystrokes;
    /// While a keystroke is being recorded every key must reach the recorder: the X11 tap then
    /// holds no grab at all.
    bool recording = false;
};

/// Why a tap could not be opened. Logged, never shown.
struct KeyboardTapError {
    std::string message;

    std::string description() const { return message; }
    std::string diagnosticDescription() const { return message; }
};

/// How a backend's `run` ended.
enum class KeyboardTapRunOutcome : uint8_t {
    /// The stop descriptor became readable.
    stopped,
    /// The tap lost its source for good (X connection closed, every device gone, access revoked).
    sourceLost,
};

/// Called by a backend on its run thread.
class KeyboardTapClient {
public:
    virtual ~KeyboardTapClient() = default;

    /// Decides one key event. Called for every key event the tap sees, in order; must be fast,
    /// never blocks and never allocates.
    virtual KeyboardTapDecision decide(const KeyboardTapEvent& event) = 0;

    /// The keyboard `device` is no longer read (gone, or given back to the desktop): its held
    /// keys end without key-ups, so a later press of one of them is decided afresh.
    virtual void forgetDevice(uint32_t device) = 0;

    /// The keystrokes of the current configuration that another program holds, so this tap
    /// cannot reserve them; called again (possibly empty) whenever that set changes.
    virtual void reportConflicts(std::vector<ClickerKeystroke> keystrokes) = 0;
};

/// A system-wide keyboard tap. Backends only translate native events and apply decisions; the
/// decisions themselves come from the client. One backend serves one run.
class KeyboardTapBackend {
public:
    virtual ~KeyboardTapBackend() = default;

    /// Opens what the tap reads and writes (device files, X connection) without taking anything
    /// from the session yet. Called once, on the thread that will call `run`.
    virtual std::expected<void, KeyboardTapError> open() = 0;

    /// Replaces the configuration; safe from any thread, also while `run` runs, which applies it
    /// before its next event.
    virtual void setConfiguration(
        std::shared_ptr<const KeyboardTapConfiguration> configuration) = 0;

    /// Taps the keyboards until `stopDescriptor` (a level-triggered descriptor, for example an
    /// eventfd, that the owner makes readable once) is readable or the source is lost. Calls
    /// `client.decide` for each key event and passes or drops it accordingly. Before returning it
    /// releases everything it took from the session: grabs, and every key its virtual devices hold.
    virtual KeyboardTapRunOutcome run(int stopDescriptor, KeyboardTapClient& client) = 0;
};

/// Makes a backend of one kind; absent when this kind cannot work in this session at all (the
/// X11 tap outside an X11 session).
using KeyboardTapBackendFactory = std::function<std::unique_ptr<KeyboardTapBackend>()>;

}  // namespace kelvra
