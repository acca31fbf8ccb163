// SPDX-License-Identifier: MIT
#pragma once

#include <spawn.h>
#include <string>
#include <vector>

namespace kelvra {

/// posix_spawn attributes under which a child starts with default handling of every signal and
/// an empty signal mask. The application ignores SIGPIPE and the stop signals, and ignored
/// signals survive exec: a helper, a browser or a server must not start with them ignored.
class SpawnAttributes {
public:
    /// `flags` adds POSIX_SPAWN_* flags whose values the caller sets through `get()`.
    explicit SpawnAttributes(short flags = 0);
    ~SpawnAttributes();
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

/// The argument or environment vector posix_spawn takes: pointers into `texts`, then a null
/// pointer. Valid while `texts` lives unchanged.
std::vector<char*> spawnVector(std::vector<std::string>& texts);

}  // namespace kelvra
