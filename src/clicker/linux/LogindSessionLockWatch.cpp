// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <systemd/sd-bus.h>
#include <utility>

#include "clicker/linux/SessionLockWatch.h"
#include "core/UniqueFd.h"

namespace kelvra {
namespace {

constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";
/// The bus daemon itself, the only one that may say who owns a name.
constexpr const char* kBusDriver = "org.freedesktop.DBus";
constexpr const char* kOwnerChanges =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.freedesktop.login1'";
/// Whatever else the bus sends us, so many messages at most are taken in per call: a flood
/// from another account must not hold up the thread that passes the keys.
constexpr int kMessagesPerCall = 64;
/// How long the start may wait for logind's first answers.
constexpr uint64_t kStartLimitUsec = 25'000'000;
/// No word from logind: the seat counts as someone else's.
constexpr SessionState kAway{.locked = false, .active = false};

uint64_t monotonicUsec() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000 +
           static_cast<uint64_t>(now.tv_nsec) / 1000;
}

bool sentBy(sd_bus_message* message, const std::string& name) {
    const char* sender = sd_bus_message_get_sender(message);
    return !name.empty() && sender != nullptr && name == sender;
}

class LogindSessionLockWatch final : public SessionLockWatch {
public:
    explicit LogindSessionLockWatch(LogindWatchSettings settings)
        : settings_(std::move(settings)),
          poller_(::epoll_create1(EPOLL_CLOEXEC)),
          timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
          retryDelay_(settings_.firstRetry) {
        epoll_event timerEvent{.events = EPOLLIN, .data = {}};
        if (::epoll_ctl(poller_.get(), EPOLL_CTL_ADD, timer_.get(), &timerEvent) != 0) {
            return;
        }
        connect();
        const uint64_t deadline = monotonicUsec() + kStartLimitUsec;
        while (bus_ != nullptr && !followed_ && !startFailed_) {
            const uint64_t now = monotonicUsec();
            if (now >= deadline) {
                break;
            }
            sd_bus_wait(bus_, deadline - now);
            dispatch();
        }
        if (!followed_) {
            drop();
        }
        changes_.clear();
        arm();
    }

    ~LogindSessionLockWatch() override { drop(); }

    int descriptor() const override { return followed_ ? poller_.get() : -1; }

    std::vector<SessionState> process() override {
        if (!followed_) {
            return {};
        }
        uint64_t expirations = 0;
        [[maybe_unused]] const ssize_t read =
            ::read(timer_.get(), &expirations, sizeof expirations);
        if (bus_ == nullptr && reconnectAt_ && monotonicUsec() >= *reconnectAt_) {
            connect();
        }
        dispatch();
        arm();
        return std::exchange(changes_, {});
    }

    SessionState state() const override { return state_; }

private:
    void connect() {
        reconnectAt_.reset();
        const int opened = settings_.busAddress.empty() ? sd_bus_open_system(&bus_) : openAt();
        if (opened < 0 || (busDescriptor_ = sd_bus_get_fd(bus_)) < 0) {
            fail();
            return;
        }
        epoll_event busEvent{.events = EPOLLIN, .data = {}};
        ::epoll_ctl(poller_.get(), EPOLL_CTL_ADD, busDescriptor_, &busEvent);
        // The match is in place before the question, so no change of owner falls between.
        if (sd_bus_add_match_async(bus_, nullptr, kOwnerChanges,
                                   &LogindSessionLockWatch::onOwnerChanged, nullptr, this) < 0 ||
            sd_bus_call_method_async(
                bus_, &pending_, kBusDriver, "/org/freedesktop/DBus", kBusDriver, "GetNameOwner",
                &LogindSessionLockWatch::onOwnerFound, this, "s", kLogin) < 0) {
            fail();
        }
    }

    int openAt() {
        int result = sd_bus_new(&bus_);
        if (result >= 0 && (result = sd_bus_set_address(bus_, settings_.busAddress.c_str())) >= 0 &&
            (result = sd_bus_set_bus_client(bus_, 1)) >= 0) {
            result = sd_bus_start(bus_);
        }
        return result;
    }

    /// Takes in what the bus has, a bounded amount of it; a failed bus is let go.
    void dispatch() {
        for (int count = 0; bus_ != nullptr && count < kMessagesPerCall; ++count) {
            const int result = sd_bus_process(bus_, nullptr);
            if (result < 0 || sd_bus_is_open(bus_) <= 0) {
                fail();
            } else if (result == 0) {
                break;
            }
        }
    }

    /// Wakes the descriptor for the bus's next deadline (or its queued messages) and for the
    /// next attempt to connect.
    void arm() {
        uint64_t at = UINT64_MAX;
        if (bus_ != nullptr) {
            sd_bus_get_timeout(bus_, &at);
            const int events = sd_bus_get_events(bus_);
            epoll_event busEvent{.events = events > 0 ? static_cast<uint32_t>(events) : EPOLLIN,
                                 .data = {}};
            ::epoll_ctl(poller_.get(), EPOLL_CTL_MOD, busDescriptor_, &busEvent);
        }
        at = std::min(at, reconnectAt_.value_or(UINT64_MAX));
        itimerspec when{};
        if (at != UINT64_MAX) {
            at = std::max<uint64_t>(at, 1);  // zero would disarm the timer
            when.it_value = {.tv_sec = static_cast<time_t>(at / 1'000'000),
                             .tv_nsec = static_cast<long>(at % 1'000'000) * 1000};
        }
        ::timerfd_settime(timer_.get(), TFD_TIMER_ABSTIME, &when, nullptr);
    }

    static int onOwnerFound(sd_bus_message* reply, void* self, sd_bus_error*) {
        auto& watch = *static_cast<LogindSessionLockWatch*>(self);
        watch.pending_ = sd_bus_slot_unref(watch.pending_);
        const char* owner = nullptr;
        if (!sentBy(reply, kBusDriver) || sd_bus_message_is_method_error(reply, nullptr) ||
            sd_bus_message_read(reply, "s", &owner) < 0) {
            watch.forget();  // no logind on this bus
        } else {
            watch.follow(owner);
        }
        return 0;
    }

    // NameOwnerChanged carries (name, old owner, new owner).
    static int onOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*) {
        const char* name = nullptr;
        const char* previous = nullptr;
        const char* owner = nullptr;
        if (sentBy(message, kBusDriver) &&
            sd_bus_message_read(message, "sss", &name, &previous, &owner) >= 0 &&
            std::strcmp(name, kLogin) == 0) {
            static_cast<LogindSessionLockWatch*>(self)->follow(owner);
        }
        return 0;
    }

    /// logind is `owner` from now on (none when empty): its word alone counts, and what the
    /// previous one said is forgotten until the new one has told the session's state.
    void follow(const char* owner) {
        pending_ = sd_bus_slot_unref(pending_);
        propertiesMatch_ = sd_bus_slot_unref(propertiesMatch_);
        readAgain_ = false;
        owner_ = owner;
        sessionPath_.clear();
        if (followed_) {
            record(kAway);
        }
        // "auto" is the caller's own session, or the user's display session when the caller
        // runs outside one (started by a user service).
        if (owner_.empty() ||
            sd_bus_call_method_async(bus_, &pending_, owner_.c_str(), "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "GetSession",
                                     &LogindSessionLockWatch::onSession, this, "s", "auto") < 0) {
            forget();
        }
    }

    static int onSession(sd_bus_message* reply, void* self, sd_bus_error*) {
        auto& watch = *static_cast<LogindSessionLockWatch*>(self);
        watch.pending_ = sd_bus_slot_unref(watch.pending_);
        const char* path = nullptr;
        if (!sentBy(reply, watch.owner_) || sd_bus_message_is_method_error(reply, nullptr) ||
            sd_bus_message_read(reply, "o", &path) < 0 ||
            sd_bus_match_signal_async(watch.bus_, &watch.propertiesMatch_, watch.owner_.c_str(),
                                      path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                      &LogindSessionLockWatch::onPropertiesChanged, nullptr,
                                      self) < 0) {
            watch.forget();
            return 0;
        }
        watch.sessionPath_ = path;
        watch.readBack();
        return 0;
    }

    // PropertiesChanged carries (interface, {name: value}, [invalidated names]); the values
    // are read back from logind rather than taken from the signal.
    static int onPropertiesChanged(sd_bus_message* message, void* self, sd_bus_error*) {
        auto& watch = *static_cast<LogindSessionLockWatch*>(self);
        const char* interface = nullptr;
        const char* path = sd_bus_message_get_path(message);
        if (sentBy(message, watch.owner_) && path != nullptr && watch.sessionPath_ == path &&
            sd_bus_message_read(message, "s", &interface) >= 0 &&
            std::strcmp(interface, kSessionInterface) == 0) {
            watch.readBack();
        }
        return 0;
    }

    /// One question at a time: a change announced while one is out is asked about once the
    /// answer is in, so that each change is seen in the order it came.
    void readBack() {
        if (pending_ != nullptr) {
            readAgain_ = true;
            return;
        }
        if (sd_bus_call_method_async(bus_, &pending_, owner_.c_str(), sessionPath_.c_str(),
                                     "org.freedesktop.DBus.Properties", "GetAll",
                                     &LogindSessionLockWatch::onProperties, this, "s",
                                     kSessionInterface) < 0) {
            forget();
        }
    }

    static int onProperties(sd_bus_message* reply, void* self, sd_bus_error*) {
        auto& watch = *static_cast<LogindSessionLockWatch*>(self);
        watch.pending_ = sd_bus_slot_unref(watch.pending_);
        const auto state = sentBy(reply, watch.owner_) ? readState(reply) : std::nullopt;
        if (!state) {
            watch.forget();
            return 0;
        }
        watch.followed_ = true;
        watch.retryDelay_ = watch.settings_.firstRetry;
        watch.record(*state);
        if (std::exchange(watch.readAgain_, false)) {
            watch.readBack();
        }
        return 0;
    }

    /// Both properties from a GetAll answer ({name: value}), or nothing.
    static std::optional<SessionState> readState(sd_bus_message* reply) {
        if (sd_bus_message_is_method_error(reply, nullptr) ||
            sd_bus_message_enter_container(reply, 'a', "{sv}") < 0) {
            return std::nullopt;
        }
        std::optional<bool> locked;
        std::optional<bool> active;
        while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(reply, "s", &name) < 0) {
                return std::nullopt;
            }
            std::optional<bool>* const field = std::strcmp(name, "LockedHint") == 0 ? &locked
                                               : std::strcmp(name, "Active") == 0   ? &active
                                                                                    : nullptr;
            int value = 0;
            if (field != nullptr && sd_bus_message_read(reply, "v", "b", &value) >= 0) {
                *field = value != 0;
            } else if (field != nullptr || sd_bus_message_skip(reply, "v") < 0) {
                return std::nullopt;
            }
            sd_bus_message_exit_container(reply);
        }
        if (!locked || !active) {
            return std::nullopt;
        }
        return SessionState{.locked = *locked, .active = *active};
    }

    void record(SessionState state) {
        if (state != state_) {
            state_ = state;
            changes_.push_back(state);
        }
    }

    /// logind's word is gone until it speaks again.
    void forget() {
        if (followed_) {
            record(kAway);
        } else {
            startFailed_ = true;
        }
    }

    /// The bus failed: it is let go, and tried again after a pause that grows.
    void fail() {
        drop();
        forget();
        if (followed_) {
            reconnectAt_ = monotonicUsec() + static_cast<uint64_t>(retryDelay_.count()) * 1000;
            retryDelay_ = std::min(retryDelay_ * 2, settings_.longestRetry);
        }
    }

    void drop() {
        pending_ = sd_bus_slot_unref(pending_);
        propertiesMatch_ = sd_bus_slot_unref(propertiesMatch_);
        if (busDescriptor_ >= 0) {
            ::epoll_ctl(poller_.get(), EPOLL_CTL_DEL, busDescriptor_, nullptr);
            busDescriptor_ = -1;
        }
        bus_ = sd_bus_close_unref(bus_);
        owner_.clear();
        sessionPath_.clear();
        readAgain_ = false;
    }

    const LogindWatchSettings settings_;
    /// Readable for the bus and for the timer.
    UniqueFd poller_;
    UniqueFd timer_;
    sd_bus* bus_ = nullptr;
    int busDescriptor_ = -1;
    /// The one question out to the bus or to logind.
    sd_bus_slot* pending_ = nullptr;
    sd_bus_slot* propertiesMatch_ = nullptr;
    bool readAgain_ = false;
    /// logind's unique name on the bus, and our session there.
    std::string owner_;
    std::string sessionPath_;
    /// logind told the session's state at least once: losing it means away, not absent.
    bool followed_ = false;
    bool startFailed_ = false;
    std::optional<uint64_t> reconnectAt_;  // microseconds, monotonic clock
    std::chrono::milliseconds retryDelay_;
    SessionState state_;
    std::vector<SessionState> changes_;
};

}  // namespace

std::unique_ptr<SessionLockWatch> makeLogindSessionLockWatch(LogindWatchSettings settings) {
    return std::make_unique<LogindSessionLockWatch>(std::move(settings));
}

}  // namespace kelvra
