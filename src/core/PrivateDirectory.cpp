// SPDX-License-Identifier: MIT
#include "core/PrivateDirectory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Error.h"

namespace kelvra {
namespace {

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

}  // namespace

DirectoryProblem DirectoryProblem::unavailable(int errorNumber) {
    DirectoryProblem problem(Kind::unavailable);
    problem.errorNumber_ = errorNumber;
    return problem;
}

DirectoryProblem DirectoryProblem::notADirectory() {
    return DirectoryProblem(Kind::notADirectory);
}

DirectoryProblem DirectoryProblem::foreignOwner(uid_t owner) {
    DirectoryProblem problem(Kind::foreignOwner);
    problem.owner_ = owner;
    return problem;
}

DirectoryProblem DirectoryProblem::openToOthers(mode_t mode) {
    DirectoryProblem problem(Kind::openToOthers);
    problem.mode_ = mode;
    return problem;
}

std::string DirectoryProblem::explanation() const {
    switch (kind_) {
        case Kind::unavailable:
            return std::string("it cannot be opened (") + errorText(errorNumber_) + ")";
        case Kind::notADirectory:
            return "it is not a folder";
        case Kind::foreignOwner:
            return "it belongs to another user";
        case Kind::openToOthers:
            return "other users can access it (permissions " + octal(mode_) + ")";
    }
    return {};
}

std::string DirectoryProblem::diagnosticDescription() const {
    switch (kind_) {
        case Kind::unavailable:
            return "unavailable(errno " + std::to_string(errorNumber_) + ": " +
                   errorText(errorNumber_) + ")";
        case Kind::notADirectory:
            return "notADirectory";
        case Kind::foreignOwner:
            return "foreignOwner(uid " + std::to_string(owner_) + ")";
        case Kind::openToOthers:
            return "openToOthers(" + octal(mode_) + ")";
    }
    return {};
}

std::expected<UniqueFd, DirectoryProblem> openPrivateDirectory(const std::filesystem::path& path,
                                                               mode_t forbiddenModeBits) {
    UniqueFd directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        const int openError = errno;
        if (openError == ENOTDIR) {
            return std::unexpected(DirectoryProblem::notADirectory());
        }
        return std::unexpected(DirectoryProblem::unavailable(openError));
    }
    struct stat status {};
    if (::fstat(directory.get(), &status) != 0) {
        return std::unexpected(DirectoryProblem::unavailable(errno));
    }
    if (status.st_uid != ::geteuid()) {
        return std::unexpected(DirectoryProblem::foreignOwner(status.st_uid));
    }
    if ((status.st_mode & forbiddenModeBits) != 0) {
        return std::unexpected(DirectoryProblem::openToOthers(status.st_mode));
    }
    return directory;
}

int createPrivateDirectories(const std::filesystem::path& path) {
    std::filesystem::path current;
    for (const auto& part : path.lexically_normal()) {
        current /= part;
        if (part.empty() || current == current.root_path()) {
            continue;
        }
        if (::mkdir(current.c_str(), kPrivateDirectoryMode) != 0 && errno != EEXIST) {
            return errno;
        }
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return errno;
    }
    return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
}

}  // namespace kelvra
