// SPDX-License-Identifier: MIT
#include "core/SpawnAttributes.h"

#include <csignal>

namespace kelvra {

SpawnAttributes::SpawnAttributes(short flags) {
    posix_spawnattr_init(&attributes_);
    sigset_t every;
    sigfillset(&every);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes_, &every);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setflags(
        &attributes_, static_cast<short>(flags | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));
}

SpawnAttributes::~SpawnAttributes() {
    posix_spawnattr_destroy(&attributes_);
}

std::vector<char*> spawnVector(std::vector<std::string>& texts) {
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (auto& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

}  // namespace kelvra
