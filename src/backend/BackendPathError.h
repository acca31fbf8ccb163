// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>

namespace kelvra {

/// Why the backend's files could not be resolved.
class BackendPathError {
public:
    enum class Kind {
        missingFile,
        notExecutable,
        missingResourcesDirectory,
        missingDevelopmentNode
    };

    static BackendPathError missingFile(std::string fileDescription, std::filesystem::path path);
    static BackendPathError notExecutable(std::string fileDescription, std::filesystem::path path);
    static BackendPathError missingResourcesDirectory();
    static BackendPathError missingDevelopmentNode();

    Kind kind() const { return kind_; }
    /// The file the error is about; empty for the kinds without one.
    const std::filesystem::path& path() const { return path_; }

    std::string description() const;
    std::string diagnosticDescription() const;

    friend bool operator==(const BackendPathError&, const BackendPathError&) = default;

private:
    BackendPathError(Kind kind, std::string fileDescription, std::filesystem::path path)
        : kind_(kind), fileDescription_(std::move(fileDescription)), path_(std::move(path)) {}

    Kind kind_;
    std::string fileDescription_;
    std::filesystem::path path_;
};

}  // namespace kelvra
