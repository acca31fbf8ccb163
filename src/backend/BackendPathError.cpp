// SPDX-License-Identifier: MIT
#include "backend/BackendPathError.h"

#include "core/Error.h"

namespace kelvra {

BackendPathError BackendPathError::missingFile(std::string fileDescription,
                                               std::filesystem::path path) {
    return {Kind::missingFile, std::move(fileDescription), std::move(path)};
}

BackendPathError BackendPathError::notExecutable(std::string fileDescription,
                                                 std::filesystem::path path) {
    return {Kind::notExecutable, std::move(fileDescription), std::move(path)};
}

BackendPathError BackendPathError::missingResourcesDirectory() {
    return {Kind::missingResourcesDirectory, {}, {}};
}

BackendPathError BackendPathError::missingDevelopmentNode() {
    return {Kind::missingDevelopmentNode, {}, {}};
}

std::string BackendPathError::description() const {
    switch (kind_) {
        case Kind::missingFile:
            return "Kelvra Hub could not find its " + fileDescription_ + " at " + path_.string() +
                   ".";
        case Kind::notExecutable:
            return "Kelvra Hub's " + fileDescription_ + " is not executable at " + path_.string() +
                   ".";
        case Kind::missingResourcesDirectory:
            return "Kelvra Hub could not locate its application resources.";
        case Kind::missingDevelopmentNode:
            return "Kelvra Hub could not find an executable development Node.js runtime in PATH.";
    }
    return {};
}

std::string BackendPathError::diagnosticDescription() const {
    switch (kind_) {
        case Kind::missingFile:
            return "BackendPathError.missingFile(" + quoted(fileDescription_) + ", " +
                   quoted(path_.string()) + ")";
        case Kind::notExecutable:
            return "BackendPathError.notExecutable(" + quoted(fileDescription_) + ", " +
                   quoted(path_.string()) + ")";
        case Kind::missingResourcesDirectory:
            return "BackendPathError.missingResourcesDirectory";
        case Kind::missingDevelopmentNode:
            return "BackendPathError.missingDevelopmentNode";
    }
    return {};
}

}  // namespace kelvra
