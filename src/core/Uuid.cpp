// SPDX-License-Identifier: MIT
#include "core/Uuid.h"

#include <uuid/uuid.h>

namespace kelvra {

Uuid Uuid::generate() {
    Uuid uuid;
    uuid_generate_random(uuid.bytes_.data());
    return uuid;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    // The length check comes first: libuuid reads up to a NUL, which a stored text may hold.
    if (text.size() != 36) {
        return std::nullopt;
    }
    const std::string terminated(text);
    Uuid uuid;
    if (uuid_parse(terminated.c_str(), uuid.bytes_.data()) != 0) {
        return std::nullopt;
    }
    return uuid;
}

std::string Uuid::string() const {
    char text[37];
    uuid_unparse_upper(bytes_.data(), text);
    return std::string(text, 36);
}

}  // namespace kelvra
