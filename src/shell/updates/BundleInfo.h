// SPDX-License-Identifier: MIT
#pragma once

#include <any>
#include <functional>
#include <map>
#include <string>

namespace kelvra {

/// An application's information dictionary: string keys, values of any type.
using InfoDictionary = std::map<std::string, std::any, std::less<>>;

namespace BundleInfo {

/// This build's information dictionary, fixed when the build was configured:
/// "CFBundleShortVersionString" (the project version), "CFBundleVersion" (the build number) and
/// "SUFeedURL" (the update feed's address), each a `std::string`.
const InfoDictionary& dictionary();

}  // namespace BundleInfo
}  // namespace kelvra
