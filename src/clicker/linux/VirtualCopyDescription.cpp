// SPDX-License-Identifier: MIT
#include "clicker/linux/VirtualCopyDescription.h"

#include <linux/input.h>
#include <string>

namespace kelvra {

LibevdevPointer describeVirtualCopy(const libevdev& source, std::string_view name) {
    LibevdevPointer copy(libevdev_new());
    if (!copy) {
        return copy;
    }
    libevdev_set_name(copy.get(), std::string(name).c_str());
    libevdev_set_id_bustype(copy.get(), libevdev_get_id_bustype(&source));
    libevdev_set_id_vendor(copy.get(), libevdev_get_id_vendor(&source));
    libevdev_set_id_product(copy.get(), libevdev_get_id_product(&source));
    libevdev_set_id_version(copy.get(), libevdev_get_id_version(&source));
    for (unsigned property = 0; property <= INPUT_PROP_MAX; ++property) {
        if (libevdev_has_property(&source, property)) {
            libevdev_enable_property(copy.get(), property);
        }
    }
    for (unsigned type = 0; type < EV_CNT; ++type) {
        if (type == EV_REP || type == EV_FF || !libevdev_has_event_type(&source, type)) {
            continue;
        }
        libevdev_enable_event_type(copy.get(), type);
        const int maximum = libevdev_event_type_get_max(type);
        for (int code = 0; code <= maximum; ++code) {
            if (!libevdev_has_event_code(&source, type, static_cast<unsigned>(code))) {
                continue;
            }
            const void* data = type == EV_ABS
                                   ? libevdev_get_abs_info(&source, static_cast<unsigned>(code))
                                   : nullptr;
            libevdev_enable_event_code(copy.get(), type, static_cast<unsigned>(code), data);
        }
    }
    return copy;
}

}  // namespace kelvra
