// SPDX-License-Identifier: MIT
#pragma once

#include <cerrno>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace kelvra {

/// Owns one file descriptor and closes it at destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int descriptor) : descriptor_(descriptor) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.descriptor_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return descriptor_; }
    bool isValid() const { return descriptor_ >= 0; }
    explicit operator bool() const { return isValid(); }

    /// Gives the descriptor up without closing it.
    int release() { return std::exchange(descriptor_, -1); }

    void reset(int descriptor = -1) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);  // errors on close are not actionable
        }
        descriptor_ = descriptor;
    }

private:
    int descriptor_ = -1;
};

/// Writes all of `bytes`, resuming after interruptions and partial writes. Returns 0 or the
/// errno of the write that failed.
inline int writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : EIO;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return 0;
}

}  // namespace kelvra
