// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <sys/types.h>

#include "core/UniqueFd.h"

namespace kelvra {

/// Why a directory cannot be trusted to hold what only the current user may reach.
class DirectoryProblem {
public:
    enum class Kind { unavailable, notADirectory, foreignOwner, openToOthers };

    static DirectoryProblem unavailable(int errorNumber);
    static DirectoryProblem notADirectory();
    static DirectoryProblem foreignOwner(uid_t owner);
    static DirectoryProblem openToOthers(mode_t mode);

    Kind kind() const { return kind_; }

    /// Completes "… because " in a user-facing sentence, for example "other users can access it
    /// (permissions 0755)".
    std::string explanation() const;
    /// The case and its values, for the log.
    std::string diagnosticDescription() const;

    friend bool operator==(const DirectoryProblem&, const DirectoryProblem&) = default;

private:
    explicit DirectoryProblem(Kind kind) : kind_(kind) {}

    Kind kind_;
    int errorNumber_ = 0;
    uid_t owner_ = 0;
    mode_t mode_ = 0;
};

/// Opens `path` as a directory (following symbolic links) and accepts it only when it belongs to
/// the effective user and has none of `forbiddenModeBits`. The checks run on the opened
/// directory, so a directory swapped in afterwards cannot slip past them.
std::expected<UniqueFd, DirectoryProblem> openPrivateDirectory(const std::filesystem::path& path,
                                                               mode_t forbiddenModeBits);

/// The mode bits of the directories `createPrivateDirectories` makes: owner only, as the XDG Base
/// Directory specification asks for directories it creates.
inline constexpr mode_t kPrivateDirectoryMode = 0700;

/// Creates `path` and its missing parents with `kPrivateDirectoryMode`; existing directories are
/// left as they are. Returns 0 or the errno of the step that failed.
int createPrivateDirectories(const std::filesystem::path& path);

}  // namespace kelvra
