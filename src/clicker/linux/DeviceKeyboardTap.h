// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "clicker/KeyboardTapBackend.h"
#include "clicker/linux/InputDeviceLayer.h"
#include "clicker/linux/SessionLockWatch.h"
#include "clicker/linux/TappedKeyboard.h"
#include "core/LogSink.h"
#include "core/UniqueFd.h"

namespace kelvra {

/// The tap of every session type: grabs each keyboard device, decides on its key events and
/// re-emits what passes through a virtual copy of the keyboard. Keyboards are those the system
/// calls keyboards and any device with an assigned key (a clicker may only count as a set of
/// keys); our own copies, known by where uinput put them, are never read. New keyboards are
/// taken when plugged in. While another session is the seat's active one, every keyboard is
/// given back (descriptor closed) and taken again when ours returns; nothing is opened while it
/// is away, from the start on.
class DeviceKeyboardTap final : public KeyboardTapBackend {
public:
    DeviceKeyboardTap(std::unique_ptr<InputDeviceLayer> layer,
                      std::unique_ptr<SessionLockWatch> lockWatch, std::shared_ptr<LogSink> log);
    ~DeviceKeyboardTap() override;

    /// Fails when virtual devices cannot be created or no keyboard opens; while our session is
    /// away from the seat, when they will not once it returns (nothing is opened meanwhile).
    std::expected<void, KeyboardTapError> open() override;
    void setConfiguration(std::shared_ptr<const KeyboardTapConfiguration> configuration) override;
    /// Ends with `sourceLost` when no keyboard is left and the keyboards that are present cannot
    /// be opened any more (access revoked), or when `open`'s check fails on coming to the seat.
    KeyboardTapRunOutcome run(int stopDescriptor, KeyboardTapClient& client) override;

private:
    enum class Attempt : uint8_t { done, denied };

    /// Virtual devices can be created and a keyboard opens, if there is one; away from the
    /// seat, will once our session is at it.
    std::expected<void, KeyboardTapError> checkDevices(bool atSeat);
    /// Our session is at the seat: the devices are checked, then every keyboard is taken.
    Attempt takeSeat();
    /// Opens and takes every device not yet read.
    Attempt scan();
    Attempt consider(const InputDeviceNode& node);
    /// Takes the keyboard if it is idle; false when it is to be left alone.
    bool tryTake(TappedKeyboard& keyboard);
    /// Drops the keyboards read from `node`'s device, which is gone; its held keys end.
    void drop(const InputDeviceNode& node);
    void logOnce(const std::string& path, const std::string& message);
    /// Whether the run has to end: nothing left to read, and access to what is there is gone.
    bool lostForGood(Attempt lastAttempt);

    const std::unique_ptr<InputDeviceLayer> layer_;
    const std::unique_ptr<SessionLockWatch> lockWatch_;
    const std::shared_ptr<LogSink> log_;
    /// Readable when the configuration changed.
    UniqueFd configurationChanged_;

    std::mutex mutex_;
    std::shared_ptr<const KeyboardTapConfiguration> pendingConfiguration_;  // guarded by mutex_

    // Owned by the run thread.
    std::shared_ptr<const KeyboardTapConfiguration> configuration_;
    TapContext context_;
    /// Our session is the seat's active one; while it is not, no keyboard is held.
    bool active_ = true;
    std::vector<std::unique_ptr<TappedKeyboard>> keyboards_;
    std::set<std::string> logged_;
    uint32_t nextId_ = 1;
};

/// Whether the device tap reads the device: the system calls it a keyboard, or it can send a key
/// of `configuration` (a clicker may count only as a set of keys, or as no keyboard at all).
bool deviceTapReads(const InputDeviceNode& node, const KeyboardTapConfiguration* configuration);

/// Whether the device tap's files open for this user: every device it would read under
/// `configuration` for reading and writing (there must be one) and the uinput device for
/// writing. Absent, with nothing tried, while another session is at the seat, which holds the
/// access to them meanwhile.
std::optional<bool> deviceKeyboardFilesOpen(InputDeviceLayer& layer, const SessionLockWatch& seat,
                                            const KeyboardTapConfiguration& configuration);

/// The device tap over the system's devices and logind's lock state.
std::unique_ptr<KeyboardTapBackend> makeDeviceKeyboardTap(std::shared_ptr<LogSink> log);

}  // namespace kelvra
