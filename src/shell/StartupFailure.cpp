// SPDX-License-Identifier: MIT
#include "shell/StartupFailure.h"

#include "core/FileLog.h"

namespace kelvra::StartupFailure {

std::string informativeText(const Error& error, const std::filesystem::path& logPath) {
    return error.description() + "\n\nLog: " + logPath.string();
}

void record(const Error& error, const std::filesystem::path& logDirectory) {
    if (auto log = FileLog::open(logDirectory, FileLog::kDefaultMaximumBytes)) {
        (*log)->write("shell:fatal", error.diagnosticDescription());
    }
}

}  // namespace kelvra::StartupFailure
