// SPDX-License-Identifier: MIT
#include "windows/KeyboardLayoutText.h"

#include <array>
#include <memory>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <QGuiApplication>

namespace kelvra {
namespace {

struct ContextDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
using Context = std::unique_ptr<xkb_context, ContextDeleter>;
using Keymap = std::unique_ptr<xkb_keymap, KeymapDeleter>;
using State = std::unique_ptr<xkb_state, StateDeleter>;

struct LayoutState {
    Keymap keymap;
    State state;
};

// The X server's own keymap and active layout group, so the text matches what the user sees;
// absent outside an X11 session.
std::optional<LayoutState> x11Layout(xkb_context* context) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                    XKB_X11_MIN_MINOR_XKB_VERSION,
                                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                                    nullptr, nullptr, nullptr)) {
        return std::nullopt;
    }
    const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device < 0) {
        return std::nullopt;
    }
    Keymap keymap(
        xkb_x11_keymap_new_from_device(context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return std::nullopt;
    }
    State current(xkb_x11_state_new_from_device(keymap.get(), connection, device));
    State unshifted(xkb_state_new(keymap.get()));
    if (!current || !unshifted) {
        return std::nullopt;
    }
    const xkb_layout_index_t group =
        xkb_state_serialize_layout(current.get(), XKB_STATE_LAYOUT_EFFECTIVE);
    xkb_state_update_mask(unshifted.get(), 0, 0, 0, 0, 0, group);
    return LayoutState{std::move(keymap), std::move(unshifted)};
}

// Wayland gives clients no way to ask for the keymap outside a key event; the XKB_DEFAULT_*
// settings (or the system default layout) are the best guess there and without a display.
std::optional<LayoutState> defaultLayout(xkb_context* context) {
    Keymap keymap(xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return std::nullopt;
    }
    State state(xkb_state_new(keymap.get()));
    if (!state) {
        return std::nullopt;
    }
    return LayoutState{std::move(keymap), std::move(state)};
}

}  // namespace

std::optional<std::string> unshiftedKeyText(uint32_t keycode) {
    // Built afresh for each recorded key (a rare event) so a layout switched since the last
    // one is honoured.
    const Context context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context) {
        return std::nullopt;
    }
    auto layout = x11Layout(context.get());
    if (!layout) {
        layout = defaultLayout(context.get());
    }
    if (!layout) {
        return std::nullopt;
    }
    std::array<char, 64> buffer{};
    const int length =
        xkb_state_key_get_utf8(layout->state.get(), keycode, buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) {
        return std::nullopt;
    }
    return std::string(buffer.data(), static_cast<size_t>(length));
}

}  // namespace kelvra
