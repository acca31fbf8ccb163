// SPDX-License-Identifier: MIT
#include "clicker/linux/X11KeyboardTap.h"

#include <X11/keysym.h>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <vector>
#include <xcb/xcb.h>

#include "clicker/linux/LinuxKeyMap.h"
#include "core/UniqueFd.h"

// The keyboard extension's header names a field `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace kelvra {
namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// While a key we have not grabbed is held, its grab waits: grabbing it now would take its
// repeats and key-up from the window that saw it go down.
constexpr int kHeldKeyRetryMilliseconds = 50;

struct Grab {
    xcb_keycode_t keycode;
    uint16_t modifiers;
    size_t keystroke;  // index into the applied configuration's keystrokes
};

class X11KeyboardTap final : public KeyboardTapBackend {
public:
    explicit X11KeyboardTap(std::string display) : display_(std::move(display)) {}

    ~X11KeyboardTap() override {
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
    }

    std::expected<void, KeyboardTapError> open() override;
    void setConfiguration(std::shared_ptr<const KeyboardTapConfiguration> configuration) override;
    KeyboardTapRunOutcome run(int stopDescriptor, KeyboardTapClient& client) override;

private:
    void readKeyboardMapping();
    std::vector<xcb_keycode_t> keycodesOf(uint16_t keyCode) const;
    uint16_t keyCodeOf(xcb_keycode_t keycode) const;
    uint64_t modifierFlagsOf(uint16_t state) const;
    std::vector<Grab> wantedGrabs() const;
    /// Grabs what the configuration wants and is not held, releases what it no longer wants.
    void regrab(KeyboardTapClient& client, bool configurationChanged);
    void releaseGrabs();
    void handle(const xcb_generic_event_t& event, KeyboardTapClient& client);
    /// Ends a key's press for the client, whose key-up the focused window gets instead of us:
    /// otherwise the client would keep the key held, and decide its later presses as this one.
    void releaseUnseen(xcb_keycode_t keycode, KeyboardTapClient& client);

    const std::string display_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    UniqueFd wake_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

    std::mutex configurationLock_;
    std::shared_ptr<const KeyboardTapConfiguration> pending_;

    // Tap thread only.
    std::shared_ptr<const KeyboardTapConfiguration> applied_;
    bool evdevKeycodes_ = true;
    xcb_keycode_t minKeycode_ = 8;
    uint8_t keysymsPerKeycode_ = 0;
    std::vector<xcb_keysym_t> keysyms_;
    std::array<uint16_t, 4> modifierMasks_{};  // shift, control, option, command
    std::vector<uint16_t> lockCombinations_{0};
    std::vector<Grab> grabs_;
    std::vector<Grab> conflicted_;  // refused with BadAccess; retried on a new configuration
    std::vector<ClickerKeystroke> conflicts_;
    bool waitingForHeldKeys_ = false;
    std::array<bool, 256> pressed_{};
    /// The key whose press made one of our grabs active; the grab lasts until its release.
    std::optional<xcb_keycode_t> activeGrabKey_;
};

std::expected<void, KeyboardTapError> X11KeyboardTap::open() {
    if (!wake_) {
        return std::unexpected(KeyboardTapError{"no event descriptor for configuration changes"});
    }
    int screenNumber = 0;
    connection_ = xcb_connect(display_.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection_) != 0) {
        return std::unexpected(KeyboardTapError{"cannot connect to the X display " + display_});
    }
    const Reply<xcb_query_extension_reply_t> xwayland(xcb_query_extension_reply(
        connection_, xcb_query_extension(connection_, 8, "XWAYLAND"), nullptr));
    if (xwayland && xwayland->present != 0) {
        return std::unexpected(
            KeyboardTapError{"the X display is XWayland, whose grabs miss Wayland windows"});
    }
    const Reply<xcb_xkb_use_extension_reply_t> xkb(xcb_xkb_use_extension_reply(
        connection_, xcb_xkb_use_extension(connection_, 1, 0), nullptr));
    if (!xkb || xkb->supported == 0) {
        return std::unexpected(KeyboardTapError{"the X server lacks the keyboard extension"});
    }
    // Repeats then arrive as presses without releases between them.
    const Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
        connection_,
        xcb_xkb_per_client_flags(connection_, XCB_XKB_ID_USE_CORE_KBD,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
        nullptr));
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int index = 0; index < screenNumber && screens.rem > 0; ++index) {
        xcb_screen_next(&screens);
    }
    root_ = screens.data->root;

    const Reply<xcb_xkb_get_names_reply_t> names(xcb_xkb_get_names_reply(
        connection_,
        xcb_xkb_get_names(connection_, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEYCODES),
        nullptr));
    if (names) {
        const auto* values =
            static_cast<const xcb_atom_t*>(xcb_xkb_get_names_value_list(names.get()));
        const Reply<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(
            connection_, xcb_get_atom_name(connection_, values[0]), nullptr));
        if (name) {
            const std::string text(xcb_get_atom_name_name(name.get()),
                                   static_cast<size_t>(xcb_get_atom_name_name_length(name.get())));
            evdevKeycodes_ = text.find("evdev") != std::string::npos;
        }
    }
    readKeyboardMapping();
    return {};
}

void X11KeyboardTap::setConfiguration(
    std::shared_ptr<const KeyboardTapConfiguration> configuration) {
    {
        std::lock_guard lock(configurationLock_);
        pending_ = std::move(configuration);
    }
    ::eventfd_write(wake_.get(), 1);
}

void X11KeyboardTap::readKeyboardMapping() {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    minKeycode_ = setup->min_keycode;
    const Reply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        connection_,
        xcb_get_keyboard_mapping(connection_, setup->min_keycode,
                                 static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1)),
        nullptr));
    keysyms_.clear();
    keysymsPerKeycode_ = 0;
    if (mapping) {
        const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        keysyms_.assign(keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(mapping.get()));
        keysymsPerKeycode_ = mapping->keysyms_per_keycode;
    }

    const Reply<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(
        connection_, xcb_get_modifier_mapping(connection_), nullptr));
    modifierMasks_ = {XCB_MOD_MASK_SHIFT, XCB_MOD_MASK_CONTROL, 0, 0};
    uint16_t numLock = 0;
    uint16_t scrollLock = 0;
    if (modifiers) {
        const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(modifiers.get());
        const int perModifier = modifiers->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            const auto mask = static_cast<uint16_t>(1u << modifier);
            for (int slot = 0; slot < perModifier; ++slot) {
                const xcb_keycode_t keycode = keycodes[modifier * perModifier + slot];
                if (keycode < minKeycode_ || keysymsPerKeycode_ == 0) {
                    continue;
                }
                const size_t first =
                    static_cast<size_t>(keycode - minKeycode_) * keysymsPerKeycode_;
                for (size_t level = 0;
                     level < keysymsPerKeycode_ && first + level < keysyms_.size(); ++level) {
                    switch (keysyms_[first + level]) {
                        case XK_Num_Lock:
                            numLock = mask;
                            break;
                        case XK_Scroll_Lock:
                            scrollLock = mask;
                            break;
                        case XK_Alt_L:
                        case XK_Alt_R:
                        case XK_Meta_L:
                        case XK_Meta_R:
                            modifierMasks_[2] = modifierMasks_[2] == 0 ? mask : modifierMasks_[2];
                            break;
                        case XK_Super_L:
                        case XK_Super_R:
                            modifierMasks_[3] = modifierMasks_[3] == 0 ? mask : modifierMasks_[3];
                            break;
                        default:
                            break;
                    }
                }
            }
        }
    }
    // Every combination of the lock modifiers, so a grab holds whatever locks are engaged.
    const std::array<uint16_t, 3> locks = {XCB_MOD_MASK_LOCK, numLock, scrollLock};
    lockCombinations_ = {0};
    for (const uint16_t lock : locks) {
        if (lock == 0) {
            continue;
        }
        const size_t count = lockCombinations_.size();
        for (size_t index = 0; index < count; ++index) {
            lockCombinations_.push_back(lockCombinations_[index] | lock);
        }
    }
}

std::vector<xcb_keycode_t> X11KeyboardTap::keycodesOf(uint16_t keyCode) const {
    if (evdevKeycodes_) {
        const auto keycode = LinuxKeyMap::xKeycodeFromKeyCode(keyCode);
        return keycode ? std::vector<xcb_keycode_t>{*keycode} : std::vector<xcb_keycode_t>{};
    }
    std::vector<xcb_keycode_t> keycodes;
    const auto wanted = LinuxKeyMap::keysymsOfKeyCode(keyCode);
    for (size_t index = 0; keysymsPerKeycode_ != 0 && index < keysyms_.size(); ++index) {
        if (std::find(wanted.begin(), wanted.end(), keysyms_[index]) != wanted.end()) {
            const auto keycode =
                static_cast<xcb_keycode_t>(minKeycode_ + index / keysymsPerKeycode_);
            if (std::find(keycodes.begin(), keycodes.end(), keycode) == keycodes.end()) {
                keycodes.push_back(keycode);
            }
        }
    }
    return keycodes;
}

uint16_t X11KeyboardTap::keyCodeOf(xcb_keycode_t keycode) const {
    if (evdevKeycodes_) {
        return LinuxKeyMap::keyCodeFromXKeycode(keycode);
    }
    const size_t first = static_cast<size_t>(keycode - minKeycode_) * keysymsPerKeycode_;
    if (keycode >= minKeycode_ && first < keysyms_.size()) {
        if (const auto keyCode = LinuxKeyMap::keyCodeFromKeysym(keysyms_[first])) {
            return *keyCode;
        }
    }
    return static_cast<uint16_t>(LinuxKeyMap::outOfRangeBase + keycode);
}

uint64_t X11KeyboardTap::modifierFlagsOf(uint16_t state) const {
    constexpr std::array<uint64_t, 4> flags = {
        ClickerModifierFlags::shift, ClickerModifierFlags::control, ClickerModifierFlags::option,
        ClickerModifierFlags::command};
    uint64_t result = 0;
    for (size_t index = 0; index < flags.size(); ++index) {
        if (modifierMasks_[index] != 0 && (state & modifierMasks_[index]) != 0) {
            result |= flags[index];
        }
    }
    return result;
}

void X11KeyboardTap::releaseGrabs() {
    for (const Grab& grab : grabs_) {
        xcb_ungrab_key(connection_, grab.keycode, root_, grab.modifiers);
    }
    grabs_.clear();
}

std::vector<Grab> X11KeyboardTap::wantedGrabs() const {
    std::vector<Grab> wanted;
    if (!applied_ || applied_->recording) {
        return wanted;
    }
    constexpr std::array<uint64_t, 4> bits = {
        ClickerModifierFlags::shift, ClickerModifierFlags::control, ClickerModifierFlags::option,
        ClickerModifierFlags::command};
    const auto& keystrokes = applied_->assignedKeystrokes;
    for (size_t index = 0; index < keystrokes.size(); ++index) {
        uint16_t modifiers = 0;
        for (size_t bit = 0; bit < bits.size(); ++bit) {
            if ((keystrokes[index].modifierFlags & bits[bit]) != 0) {
                modifiers |= modifierMasks_[bit];
            }
        }
        for (const xcb_keycode_t keycode : keycodesOf(keystrokes[index].keyCode)) {
            for (const uint16_t lock : lockCombinations_) {
                wanted.push_back({keycode, static_cast<uint16_t>(modifiers | lock), index});
            }
        }
    }
    return wanted;
}

void X11KeyboardTap::regrab(KeyboardTapClient& client, bool configurationChanged) {
    if (configurationChanged) {
        std::lock_guard lock(configurationLock_);
        applied_ = pending_;
    }
    const auto wanted = wantedGrabs();
    const auto sameGrab = [](const Grab& left, const Grab& right) {
        return left.keycode == right.keycode && left.modifiers == right.modifiers;
    };
    std::erase_if(grabs_, [&](const Grab& grab) {
        const bool keep = std::any_of(wanted.begin(), wanted.end(),
                                      [&](const Grab& other) { return sameGrab(grab, other); });
        if (!keep) {
            xcb_ungrab_key(connection_, grab.keycode, root_, grab.modifiers);
        }
        return !keep;
    });
    if (configurationChanged) {
        conflicted_.clear();
    }

    const Reply<xcb_query_keymap_reply_t> keymap(
        xcb_query_keymap_reply(connection_, xcb_query_keymap(connection_), nullptr));
    struct Requested {
        Grab grab;
        xcb_void_cookie_t cookie;
    };
    std::vector<Requested> requested;
    waitingForHeldKeys_ = false;
    for (const Grab& grab : wanted) {
        const auto matches = [&](const Grab& other) { return sameGrab(grab, other); };
        if (std::any_of(grabs_.begin(), grabs_.end(), matches) ||
            std::any_of(conflicted_.begin(), conflicted_.end(), matches)) {
            continue;
        }
        if (keymap && (keymap->keys[grab.keycode / 8] & (1u << (grab.keycode % 8))) != 0) {
            waitingForHeldKeys_ = true;
            continue;
        }
        requested.push_back(
            {grab, xcb_grab_key_checked(connection_, 0, root_, grab.modifiers, grab.keycode,
                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_SYNC)});
    }
    for (const Requested& request : requested) {
        if (const Reply<xcb_generic_error_t> error{
                xcb_request_check(connection_, request.cookie)}) {
            conflicted_.push_back(request.grab);
        } else {
            grabs_.push_back(request.grab);
        }
    }
    xcb_flush(connection_);

    std::vector<ClickerKeystroke> conflicts;
    for (const Grab& grab : conflicted_) {
        const ClickerKeystroke& keystroke = applied_->assignedKeystrokes[grab.keystroke];
        if (std::find(conflicts.begin(), conflicts.end(), keystroke) == conflicts.end()) {
            conflicts.push_back(keystroke);
        }
    }
    if (conflicts != conflicts_) {
        conflicts_ = conflicts;
        client.reportConflicts(std::move(conflicts));
    }
}

void X11KeyboardTap::releaseUnseen(xcb_keycode_t keycode, KeyboardTapClient& client) {
    pressed_[keycode] = false;
    client.decide({0, keyCodeOf(keycode), KeyTransition::up, 0});
}

void X11KeyboardTap::handle(const xcb_generic_event_t& event, KeyboardTapClient& client) {
    switch (event.response_type & 0x7F) {
        case XCB_KEY_PRESS:
        case XCB_KEY_RELEASE: {
            const auto& key = reinterpret_cast<const xcb_key_press_event_t&>(event);
            const bool press = (event.response_type & 0x7F) == XCB_KEY_PRESS;
            KeyTransition transition = KeyTransition::up;
            if (press) {
                transition = pressed_[key.detail] ? KeyTransition::repeat : KeyTransition::down;
            }
            pressed_[key.detail] = press;
            const auto decision =
                client.decide({0, keyCodeOf(key.detail), transition, modifierFlagsOf(key.state)});
            if (press) {
                // A press while none of our grabs is active is one of them becoming active.
                // Replaying ends that grab and hands the press to the focused window as if we
                // had never grabbed it; the rest of that press then goes there directly.
                const bool activates = !activeGrabKey_;
                const bool replay = activates && decision == KeyboardTapDecision::pass;
                xcb_allow_events(connection_,
                                 replay ? XCB_ALLOW_REPLAY_KEYBOARD : XCB_ALLOW_ASYNC_KEYBOARD,
                                 XCB_CURRENT_TIME);
                xcb_flush(connection_);
                if (replay) {
                    releaseUnseen(key.detail, client);
                } else if (activates) {
                    activeGrabKey_ = key.detail;
                }
            } else if (activeGrabKey_ == key.detail) {
                // The grab ends with its key: keys pressed meanwhile go up in the focused window.
                activeGrabKey_.reset();
                for (size_t keycode = 0; keycode < pressed_.size(); ++keycode) {
                    if (pressed_[keycode]) {
                        releaseUnseen(static_cast<xcb_keycode_t>(keycode), client);
                    }
                }
            }
            break;
        }
        case XCB_MAPPING_NOTIFY:
            // Keycodes may have moved: grab afresh.
            releaseGrabs();
            readKeyboardMapping();
            conflicted_.clear();
            regrab(client, false);
            break;
        default:
            break;
    }
}

KeyboardTapRunOutcome X11KeyboardTap::run(int stopDescriptor, KeyboardTapClient& client) {
    regrab(client, true);
    KeyboardTapRunOutcome outcome = KeyboardTapRunOutcome::stopped;
    while (true) {
        pollfd descriptors[] = {{stopDescriptor, POLLIN, 0},
                                {xcb_get_file_descriptor(connection_), POLLIN, 0},
                                {wake_.get(), POLLIN, 0}};
        const int ready =
            ::poll(descriptors, 3, waitingForHeldKeys_ ? kHeldKeyRetryMilliseconds : -1);
        if (descriptors[0].revents != 0) {
            break;
        }
        if (descriptors[2].revents != 0) {
            eventfd_t ignored = 0;
            ::eventfd_read(wake_.get(), &ignored);
            regrab(client, true);
        } else if (ready == 0 && waitingForHeldKeys_) {
            regrab(client, false);
        }
        while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection_)}) {
            handle(*event, client);
        }
        if (xcb_connection_has_error(connection_) != 0) {
            outcome = KeyboardTapRunOutcome::sourceLost;
            break;
        }
    }
    if (outcome == KeyboardTapRunOutcome::stopped) {
        releaseGrabs();
        xcb_allow_events(connection_, XCB_ALLOW_ASYNC_KEYBOARD, XCB_CURRENT_TIME);
        // A round trip: the keys are free for other clients once `run` returns.
        std::free(
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    return outcome;
}

}  // namespace

std::unique_ptr<KeyboardTapBackend> makeX11KeyboardTap(const Environment& environment) {
    const auto display = environmentValue(environment, "DISPLAY");
    if (!display || display->empty()) {
        return nullptr;
    }
    // The X display of a Wayland session is XWayland, which tells clients so only from
    // Xwayland 23.1 on: the session says it for older ones.
    if (!environmentValue(environment, "WAYLAND_DISPLAY").value_or("").empty() ||
        environmentValue(environment, "XDG_SESSION_TYPE") == "wayland") {
        return nullptr;
    }
    return std::make_unique<X11KeyboardTap>(*display);
}

}  // namespace kelvra
