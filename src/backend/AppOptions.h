// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "backend/BackendLaunchInfo.h"
#include "backend/BackendPathError.h"
#include "core/Environment.h"

namespace kelvra {

/// A command line that cannot be accepted.
class AppOptionsError {
public:
    enum class Kind { unknownArgument, missingDevelopmentRoot };

    static AppOptionsError unknownArgument(std::string argument);
    static AppOptionsError missingDevelopmentRoot();

    Kind kind() const { return kind_; }
    const std::string& argument() const { return argument_; }

    std::string description() const;
    std::string diagnosticDescription() const;

    friend bool operator==(const AppOptionsError&, const AppOptionsError&) = default;

private:
    AppOptionsError(Kind kind, std::string argument)
        : kind_(kind), argument_(std::move(argument)) {}

    Kind kind_;
    std::string argument_;
};

/// The parsed command line, with the backend already resolved.
struct AppOptions {
    using ParseError = std::variant<AppOptionsError, BackendPathError>;

    bool smokeTest = false;
    BackendLaunchInfo backend;

    /// Accepts "--smoke-test" and "--dev-root <path>" and nothing else; stops at the first bad
    /// argument. `arguments` excludes the program path.
    static std::expected<AppOptions, ParseError> parse(
        const std::vector<std::string>& arguments,
        const std::optional<std::filesystem::path>& resourcesDirectory,
        const Environment& environment);
};

}  // namespace kelvra
