// SPDX-License-Identifier: MIT
#include "support/TestSupport.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <thread>

#include "support/SpawnedProcess.h"

namespace kelvra::testing {

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvra-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    // Tests may take permissions away; give them back so everything can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << contents;
}

void writeExecutable(const std::filesystem::path& path, const std::string& script) {
    writeFile(path, script);
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream stream(readFile(path));
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

unsigned modeOf(const std::filesystem::path& path) {
    return static_cast<unsigned>(std::filesystem::status(path).permissions()) & 07777;
}

ProcessResult runProcess(const std::filesystem::path& program,
                         const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment) {
    TemporaryDirectory output;
    SpawnedProcess process(program, arguments, environment, output.path());
    ProcessResult result;
    result.exitStatus = process.wait(std::chrono::hours(1)).value_or(-1);
    result.standardOutput = readFile(output.path() / "stdout");
    result.standardError = readFile(output.path() / "stderr");
    return result;
}

ParentSignalSettings::ParentSignalSettings() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGTSTP, &ignore, &stopAction_);
    sigemptyset(&blocked_);
    sigaddset(&blocked_, SIGUSR2);
    ::pthread_sigmask(SIG_BLOCK, &blocked_, nullptr);
}

ParentSignalSettings::~ParentSignalSettings() {
    ::pthread_sigmask(SIG_UNBLOCK, &blocked_, nullptr);
    ::sigaction(SIGTSTP, &stopAction_, nullptr);
}

// glibc starts a spawned child with its own two real-time signals ignored: only the standard
// signals count.
const char* const kFailsOnInheritedSignals =
    "for field in SigIgn SigBlk; do test $((0x$(sed -n \"s/^$field:[[:space:]]*//p\" "
    "/proc/self/status) & 0x7fffffff)) = 0 || exit 1; done";

}  // namespace kelvra::testing
