// SPDX-License-Identifier: MIT
#pragma once

#include <concepts>
#include <string>
#include <utility>
#include <variant>

namespace kelvra {

/// Any component error: `description()` is the text the user reads, `diagnosticDescription()`
/// names the case and its values for the log.
template <typename E>
concept DescribedError = requires(const E& error) {
    { error.description() } -> std::convertible_to<std::string>;
    { error.diagnosticDescription() } -> std::convertible_to<std::string>;
};

/// A component error with its type erased, for the places that only report it.
class Error {
public:
    Error(std::string description, std::string diagnosticDescription)
        : description_(std::move(description)),
          diagnosticDescription_(std::move(diagnosticDescription)) {}

    template <DescribedError E>
    requires(!std::same_as<E, Error>) Error(const E& error)
        : Error(error.description(), error.diagnosticDescription()) {}

    template <DescribedError... Es>
    Error(const std::variant<Es...>& error)
        : Error(std::visit([](const auto& e) { return Error(e); }, error)) {}

    const std::string& description() const { return description_; }
    const std::string& diagnosticDescription() const { return diagnosticDescription_; }

    friend bool operator==(const Error&, const Error&) = default;

private:
    std::string description_;
    std::string diagnosticDescription_;
};

/// Quotes a text for a diagnostic description, so empty and blank values stay visible.
std::string quoted(const std::string& text);

/// The system's text for an errno value, safe to call from any thread; "unknown error" for 0.
std::string errorText(int errorNumber);

}  // namespace kelvra
