// SPDX-License-Identifier: MIT
#pragma once

#include <libevdev/libevdev.h>
#include <memory>
#include <string_view>

namespace kelvra {

struct LibevdevFree {
    void operator()(libevdev* device) const { libevdev_free(device); }
};
using LibevdevPointer = std::unique_ptr<libevdev, LibevdevFree>;

/// What a virtual copy of `source` is created from: its bus, vendor, product, version,
/// properties and every event type and code (with axis ranges), named `name`. Auto-repeat is
/// left out, so the kernel does not repeat on the copy as well; the source's own repeat events
/// are passed on. Force feedback is left out, as nothing would serve the copy's uploads.
LibevdevPointer describeVirtualCopy(const libevdev& source, std::string_view name);

}  // namespace kelvra
