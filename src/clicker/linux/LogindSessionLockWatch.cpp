// SPDX-License-Identifier: MIT
#include <cstring>
#include <string>
#include <systemd/sd-bus.h>
#include <utility>
#include <vector>

#include "clicker/linux/SessionLockWatch.h"

namespace kelvra {
namespace {

constexpr const char* kLogin = "org.freedesktop.login1";

class LogindSessionLockWatch final : public SessionLockWatch {
public:
    LogindSessionLockWatch() {
        if (sd_bus_open_system(&bus_) < 0) {
            bus_ = nullptr;
            return;
        }
        // "auto" is the caller's own session, or the user's display session when the caller
        // runs outside one (started by a user service).
        sd_bus_message* reply = nullptr;
        const char* path = nullptr;
        if (sd_bus_call_method(bus_, kLogin, "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "GetSession", nullptr, &reply, "s",
                               "auto") < 0 ||
            sd_bus_message_read(reply, "o", &path) < 0) {
            sd_bus_message_unref(reply);
            close();
            return;
        }
        sessionPath_ = path;
        sd_bus_message_unref(reply);
        if (sd_bus_match_signal(bus_, &match_, kLogin, sessionPath_.c_str(),
                                "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                &LogindSessionLockWatch::onPropertiesChanged, this) < 0) {
            close();
            return;
        }
        readProperty("LockedHint", locked_);
        readProperty("Active", active_);
    }

    ~LogindSessionLockWatch() override { close(); }

    int descriptor() const override { return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1; }

    std::vector<SessionState> process() override {
        if (bus_ == nullptr) {
            return {};
        }
        int result = 0;
        while ((result = sd_bus_process(bus_, nullptr)) > 0) {
        }
        if (result < 0) {
            // The bus went away (system shutdown); the last known state stays.
            close();
        }
        return std::exchange(changes_, {});
    }

    SessionState state() const override { return {.locked = locked_, .active = active_}; }

private:
    static int onPropertiesChanged(sd_bus_message* message, void* self, sd_bus_error*) {
        static_cast<LogindSessionLockWatch*>(self)->readChanged(message);
        return 0;
    }

    // PropertiesChanged carries (interface, {name: value}, [invalidated names]).
    void readChanged(sd_bus_message* message) {
        if (sd_bus_message_skip(message, "s") < 0 ||
            sd_bus_message_enter_container(message, 'a', "{sv}") < 0) {
            return;
        }
        while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(message, "s", &name) < 0) {
                return;
            }
            bool* const field = std::strcmp(name, "LockedHint") == 0 ? &locked_
                                : std::strcmp(name, "Active") == 0   ? &active_
                                                                     : nullptr;
            int value = 0;
            if (field != nullptr && sd_bus_message_read(message, "v", "b", &value) >= 0) {
                *field = value != 0;
                changes_.push_back(state());
            } else if (field == nullptr && sd_bus_message_skip(message, "v") < 0) {
                return;
            }
            sd_bus_message_exit_container(message);
        }
    }

    void readProperty(const char* name, bool& field) {
        int value = 0;
        if (sd_bus_get_property_trivial(bus_, kLogin, sessionPath_.c_str(),
                                        "org.freedesktop.login1.Session", name, nullptr, 'b',
                                        &value) >= 0) {
            field = value != 0;
        }
    }

    void close() {
        match_ = sd_bus_slot_unref(match_);
        bus_ = sd_bus_flush_close_unref(bus_);
    }

    sd_bus* bus_ = nullptr;
    sd_bus_slot* match_ = nullptr;
    std::string sessionPath_;
    bool locked_ = false;
    bool active_ = true;
    std::vector<SessionState> changes_;
};

}  // namespace

std::unique_ptr<SessionLockWatch> makeLogindSessionLockWatch() {
    return std::make_unique<LogindSessionLockWatch>();
}

}  // namespace kelvra
