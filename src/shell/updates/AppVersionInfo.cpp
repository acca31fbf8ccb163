// SPDX-License-Identifier: MIT
#include "shell/updates/AppVersionInfo.h"

#include "core/Unicode.h"

namespace kelvra {
namespace {

std::optional<std::string> trimmedText(const InfoDictionary& dictionary, std::string_view key) {
    const auto entry = dictionary.find(key);
    if (entry == dictionary.end()) {
        return std::nullopt;
    }
    const auto* text = std::any_cast<std::string>(&entry->second);
    if (text == nullptr) {
        return std::nullopt;
    }
    return Unicode::trimmed(*text);
}

}  // namespace

AppVersionInfo::AppVersionInfo(const InfoDictionary& infoDictionary) {
    const auto shortVersion = trimmedText(infoDictionary, "CFBundleShortVersionString");
    const auto bundleVersion = trimmedText(infoDictionary, "CFBundleVersion");
    version = shortVersion && !shortVersion->empty() ? *shortVersion : "Unknown";
    if (bundleVersion && !bundleVersion->empty() && bundleVersion != shortVersion) {
        build = bundleVersion;
    }
}

}  // namespace kelvra
