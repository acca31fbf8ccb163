// SPDX-License-Identifier: MIT
#include "backend/AppOptions.h"

#include "backend/BackendPathResolver.h"
#include "core/Error.h"

namespace kelvra {

AppOptionsError AppOptionsError::unknownArgument(std::string argument) {
    return {Kind::unknownArgument, std::move(argument)};
}

AppOptionsError AppOptionsError::missingDevelopmentRoot() {
    return {Kind::missingDevelopmentRoot, {}};
}

std::string AppOptionsError::description() const {
    switch (kind_) {
        case Kind::unknownArgument:
            return "Unknown Kelvra Hub option: " + argument_;
        case Kind::missingDevelopmentRoot:
            return "--dev-root requires a repository path.";
    }
    return {};
}

std::string AppOptionsError::diagnosticDescription() const {
    switch (kind_) {
        case Kind::unknownArgument:
            return "AppOptionsError.unknownArgument(" + quoted(argument_) + ")";
        case Kind::missingDevelopmentRoot:
            return "AppOptionsError.missingDevelopmentRoot";
    }
    return {};
}

std::expected<AppOptions, AppOptions::ParseError> AppOptions::parse(
    const std::vector<std::string>& arguments,
    const std::optional<std::filesystem::path>& resourcesDirectory,
    const Environment& environment) {
    bool smokeTest = false;
    std::optional<std::string> developmentRoot;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--smoke-test") {
            smokeTest = true;
        } else if (argument == "--dev-root") {
            if (index + 1 == arguments.size()) {
                return std::unexpected(AppOptionsError::missingDevelopmentRoot());
            }
            // The value is taken verbatim, even when it looks like an option.
            developmentRoot = arguments[++index];
        } else {
            return std::unexpected(AppOptionsError::unknownArgument(argument));
        }
    }
    auto backend = BackendPathResolver::resolve(resourcesDirectory, developmentRoot, environment);
    if (!backend) {
        return std::unexpected(backend.error());
    }
    return AppOptions{smokeTest, *backend};
}

}  // namespace kelvra
