// SPDX-License-Identifier: MIT
#include "clicker/linux/DeviceKeyboardTap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "clicker/linux/LinuxKeyMap.h"
#include "core/Error.h"

namespace kelvra {
namespace {

constexpr std::string_view kCategory = "shell";

/// Errors that mean this user may no longer use the devices, rather than one device failing.
bool isAccessError(int error) {
    return error == EACCES || error == EPERM;
}

bool readable(const pollfd& entry) {
    return (entry.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

void drain(int eventDescriptor) {
    eventfd_t value = 0;
    eventfd_read(eventDescriptor, &value);
}

std::string quotedName(std::string_view name) {
    return "\"" + std::string(name) + "\"";
}

}  // namespace

DeviceKeyboardTap::DeviceKeyboardTap(std::unique_ptr<InputDeviceLayer> layer,
                                     std::unique_ptr<SessionLockWatch> lockWatch,
                                     std::shared_ptr<LogSink> log)
    : layer_(std::move(layer)),
      lockWatch_(std::move(lockWatch)),
      log_(std::move(log)),
      configurationChanged_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

DeviceKeyboardTap::~DeviceKeyboardTap() = default;

std::expected<void, KeyboardTapError> DeviceKeyboardTap::open() {
    if (!configurationChanged_) {
        return std::unexpected(KeyboardTapError{"no event descriptor for configuration changes"});
    }
    // The seat lets only the session at it open its devices. While another one is there they
    // are none of ours to try: what the seat will give us then is judged without opening
    // anything (so a tap that will work gets its chance), and the run takes them on return.
    if (auto usable = checkDevices(lockWatch_->state().active); !usable) {
        return usable;
    }
    if (!layer_->watchChanges()) {
        log_->write(kCategory,
                    "Clicker Distributor cannot follow keyboards being plugged in; it reads the "
                    "keyboards present now.");
    }
    return {};
}

std::expected<void, KeyboardTapError> DeviceKeyboardTap::checkDevices(bool atSeat) {
    int virtualError = atSeat ? layer_->virtualDevicesAvailable() : 0;
    if (!atSeat && !layer_->virtualDevicesAtSeat()) {
        virtualError = EACCES;
    }
    if (virtualError != 0) {
        return std::unexpected(
            KeyboardTapError{"virtual keyboards cannot be created: " + errorText(virtualError)});
    }
    int openError = 0;
    bool anyKeyboard = false;
    for (const InputDeviceNode& node : layer_->devices()) {
        if (!node.keyboard) {
            continue;
        }
        anyKeyboard = true;
        if (atSeat) {
            auto device = layer_->open(node.path);
            openError = device ? 0 : device.error();
        } else {
            openError = layer_->opensAtSeat(node) ? 0 : EACCES;
        }
        if (openError == 0) {
            break;
        }
    }
    if (anyKeyboard && openError != 0) {
        return std::unexpected(
            KeyboardTapError{"keyboard devices cannot be opened: " + errorText(openError)});
    }
    return {};
}

void DeviceKeyboardTap::setConfiguration(
    std::shared_ptr<const KeyboardTapConfiguration> configuration) {
    {
        std::lock_guard lock(mutex_);
        pendingConfiguration_ = std::move(configuration);
    }
    eventfd_write(configurationChanged_.get(), 1);
}

KeyboardTapRunOutcome DeviceKeyboardTap::run(int stopDescriptor, KeyboardTapClient& client) {
    {
        std::lock_guard lock(mutex_);
        configuration_ = pendingConfiguration_;
    }
    drain(configurationChanged_.get());
    context_.client = &client;
    const SessionState atStart = lockWatch_->state();
    context_.locked = atStart.locked;
    active_ = atStart.active;
    KeyboardTapRunOutcome outcome = KeyboardTapRunOutcome::stopped;
    if (active_ && lostForGood(takeSeat())) {
        outcome = KeyboardTapRunOutcome::sourceLost;
    }
    enum Fixed : size_t { kStop, kConfiguration, kChanges, kLock, kFirstKeyboard };
    std::vector<pollfd> entries;
    std::vector<const TappedKeyboard*> dropped;
    while (outcome == KeyboardTapRunOutcome::stopped) {
        entries.clear();
        entries.push_back({stopDescriptor, POLLIN, 0});
        entries.push_back({configurationChanged_.get(), POLLIN, 0});
        entries.push_back({layer_->changesDescriptor(), POLLIN, 0});
        entries.push_back({lockWatch_->descriptor(), POLLIN, 0});
        for (const auto& keyboard : keyboards_) {
            entries.push_back({keyboard->device().descriptor(), POLLIN, 0});
            entries.push_back({keyboard->feedbackDescriptor(), POLLIN, 0});
        }
        if (::poll(entries.data(), entries.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            outcome = KeyboardTapRunOutcome::sourceLost;
            break;
        }
        if (readable(entries[kStop])) {
            break;
        }
        bool returned = false;
        if (readable(entries[kLock])) {
            // Each state in turn: a switch away and back between two looks still gives the
            // keyboards up, as the seat took them from us meanwhile, and takes them again.
            for (const SessionState& session : lockWatch_->process()) {
                context_.locked = session.locked;
                if (session.active != active_) {
                    active_ = session.active;
                    returned = active_;
                    // Someone else is at the seat: what they type is none of ours, and their
                    // own programs must find the keyboards free. All is taken again on return.
                    if (!active_) {
                        keyboards_.clear();
                    }
                }
            }
        }

        dropped.clear();
        for (size_t index = 0; index < keyboards_.size(); ++index) {
            TappedKeyboard& keyboard = *keyboards_[index];
            if (readable(entries[kFirstKeyboard + 2 * index + 1])) {
                keyboard.forwardFeedback();
            }
            if (!readable(entries[kFirstKeyboard + 2 * index])) {
                continue;
            }
            if (!keyboard.service() || (!keyboard.isTaken() && !tryTake(keyboard))) {
                dropped.push_back(&keyboard);
            }
        }
        std::erase_if(keyboards_, [&](const auto& keyboard) {
            return std::ranges::find(dropped, keyboard.get()) != dropped.end();
        });
        Attempt attempt = Attempt::done;
        if (returned) {
            attempt = takeSeat();
        } else if (!dropped.empty() && keyboards_.empty()) {
            // The last keyboard went: unplugged, or access revoked for all of them at once.
            attempt = scan();
        }
        bool rescan = false;
        if (readable(entries[kChanges])) {
            for (const InputDeviceChange& change : layer_->changes()) {
                if (change.kind == InputDeviceChange::Kind::removed) {
                    drop(change.node);
                    // Perhaps a program that had a keyboard let it go, and with it its copy
                    // (our own instance in a session left, a remapper that ended).
                    rescan = true;
                } else if (active_ && consider(change.node) == Attempt::denied) {
                    attempt = Attempt::denied;
                }
            }
        }
        if (readable(entries[kConfiguration])) {
            drain(configurationChanged_.get());
            {
                std::lock_guard lock(mutex_);
                configuration_ = pendingConfiguration_;
            }
            rescan = true;
        }
        if (rescan && active_ && scan() == Attempt::denied) {
            attempt = Attempt::denied;
        }
        if (lostForGood(attempt)) {
            outcome = KeyboardTapRunOutcome::sourceLost;
        }
    }
    // Every keyboard goes back to the desktop with no key left held on its copy.
    keyboards_.clear();
    context_.client = nullptr;
    return outcome;
}

DeviceKeyboardTap::Attempt DeviceKeyboardTap::takeSeat() {
    // Found wanting as it would have been at the start, had the session been at the seat then.
    if (auto usable = checkDevices(true); !usable) {
        log_->write(kCategory, "Clicker Distributor cannot take the keyboards: " +
                                   usable.error().message + ".");
        return Attempt::denied;
    }
    return scan();
}

DeviceKeyboardTap::Attempt DeviceKeyboardTap::scan() {
    Attempt result = Attempt::done;
    for (const InputDeviceNode& node : layer_->devices()) {
        if (consider(node) == Attempt::denied) {
            result = Attempt::denied;
        }
    }
    return result;
}

DeviceKeyboardTap::Attempt DeviceKeyboardTap::consider(const InputDeviceNode& node) {
    if (!deviceTapReads(node, configuration_.get()) ||
        std::ranges::any_of(keyboards_, [&](const auto& keyboard) {
            return keyboard->reads(node) || keyboard->isCopy(node);
        })) {
        return Attempt::done;
    }
    // Another device at its node was unplugged, whatever is yet to tell of it.
    std::erase_if(keyboards_, [&](const auto& keyboard) { return keyboard->path() == node.path; });
    auto device = layer_->open(node.path);
    if (!device) {
        const int error = device.error();
        if (error != ENOENT && error != ENODEV) {  // not merely unplugged meanwhile
            logOnce(node.path, "Clicker Distributor cannot open the keyboard " +
                                   quotedName(node.name) + ": " + errorText(error) + ".");
        }
        return node.keyboard && isAccessError(error) ? Attempt::denied : Attempt::done;
    }
    auto keyboard = std::make_unique<TappedKeyboard>(nextId_++, node, std::move(*device), context_);
    if (!tryTake(*keyboard)) {
        return isAccessError(keyboard->lastError()) ? Attempt::denied : Attempt::done;
    }
    keyboards_.push_back(std::move(keyboard));
    return Attempt::done;
}

bool DeviceKeyboardTap::tryTake(TappedKeyboard& keyboard) {
    if (!keyboard.isIdle()) {
        return true;  // taken once its keys are up
    }
    switch (keyboard.take()) {
        case TakeResult::taken:
        case TakeResult::waiting:
            return true;
        case TakeResult::busy:
            logOnce(keyboard.path(), "Clicker Distributor leaves the keyboard " +
                                         quotedName(keyboard.device().name()) +
                                         " alone: another program has taken it.");
            return false;
        case TakeResult::failed:
            logOnce(keyboard.path(), "Clicker Distributor cannot take the keyboard " +
                                         quotedName(keyboard.device().name()) + ": " +
                                         errorText(keyboard.lastError()) + ".");
            return false;
    }
    return false;
}

void DeviceKeyboardTap::drop(const InputDeviceNode& node) {
    std::erase_if(keyboards_, [&](const auto& keyboard) { return keyboard->reads(node); });
}

void DeviceKeyboardTap::logOnce(const std::string& path, const std::string& message) {
    if (logged_.insert(path).second) {
        log_->write(kCategory, message);
    }
}

bool DeviceKeyboardTap::lostForGood(Attempt lastAttempt) {
    return keyboards_.empty() && lastAttempt == Attempt::denied;
}

bool deviceTapReads(const InputDeviceNode& node, const KeyboardTapConfiguration* configuration) {
    if (node.keyboard) {
        return true;
    }
    // udev calls a clicker with only a few keys no keyboard.
    return configuration != nullptr &&
           std::ranges::any_of(configuration->assignedKeystrokes, [&](const auto& keystroke) {
               const auto evdevCode = LinuxKeyMap::evdevCodeFromKeyCode(keystroke.keyCode);
               return evdevCode && *evdevCode < node.keys.size() && node.keys.test(*evdevCode);
           });
}

std::optional<bool> deviceKeyboardFilesOpen(InputDeviceLayer& layer, const SessionLockWatch& seat,
                                            const KeyboardTapConfiguration& configuration) {
    if (!seat.state().active) {
        return std::nullopt;
    }
    if (layer.virtualDevicesAvailable() != 0) {
        return false;
    }
    // A clicker the tap cannot read sends its keys to the focused application, so access
    // without it is no access.
    bool anyRead = false;
    for (const InputDeviceNode& node : layer.devices()) {
        if (!deviceTapReads(node, &configuration)) {
            continue;
        }
        if (!layer.open(node.path)) {
            return false;
        }
        anyRead = true;
    }
    return anyRead;
}

std::unique_ptr<KeyboardTapBackend> makeDeviceKeyboardTap(std::shared_ptr<LogSink> log) {
    return std::make_unique<DeviceKeyboardTap>(makeSystemInputDeviceLayer(),
                                               makeLogindSessionLockWatch(), std::move(log));
}

}  // namespace kelvra
