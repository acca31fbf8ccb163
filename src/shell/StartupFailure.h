// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>

#include "core/Error.h"

/// What a failed launch tells the user and the log.
namespace kelvra::StartupFailure {

inline constexpr const char* kMessageText = "Kelvra Hub could not start.";

/// The alert's informative text: the error's description, then where the log is.
std::string informativeText(const Error& error, const std::filesystem::path& logPath);

/// Writes the error's diagnostic description as a "shell:fatal" line to a log of its own in
/// `logDirectory`; when that log cannot be opened either, nothing is written.
void record(const Error& error, const std::filesystem::path& logDirectory);

}  // namespace kelvra::StartupFailure
