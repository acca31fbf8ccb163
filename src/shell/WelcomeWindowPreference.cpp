// SPDX-License-Identifier: MIT
#include "shell/WelcomeWindowPreference.h"

#include <string_view>

namespace kelvra {
namespace {

/// A text read as a Boolean: leading white space, a sign and zeros are skipped, then the first
/// character decides.
bool textAsBoolean(std::string_view text) {
    size_t index = text.find_first_not_of(" \t\n\r\f\v");
    if (index == std::string_view::npos) {
        return false;
    }
    if (text[index] == '+' || text[index] == '-') {
        ++index;
    }
    index = text.find_first_not_of('0', index);
    if (index == std::string_view::npos) {
        return false;
    }
    return std::string_view("YyTt123456789").find(text[index]) != std::string_view::npos;
}

}  // namespace

bool WelcomeWindowPreference::shouldShowAtStartup() const {
    const auto value = defaults_->value(kKey);
    if (!value || value->is_null()) {
        return true;
    }
    if (value->is_boolean()) {
        return value->get<bool>();
    }
    if (value->is_number()) {
        return value->get<double>() != 0;
    }
    if (value->is_string()) {
        return textAsBoolean(value->get_ref<const std::string&>());
    }
    return false;
}

std::expected<void, SettingsStoreError> WelcomeWindowPreference::setShouldShowAtStartup(bool show) {
    return defaults_->setBoolean(kKey, show);
}

}  // namespace kelvra
