// SPDX-License-Identifier: MIT
// Runs the settings fuzzer's seed corpus and known hard inputs in the regular test run, so
// that the ordinary and sanitizer builds check what the fuzzer found.
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace kelvra {
namespace {

void run(const std::string& bytes) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(SettingsFuzzerReplayTest, SeedCorpus) {
    const std::filesystem::path corpus = KELVRA_TEST_SOURCE_DIR "/tests/fuzz/corpus";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        SCOPED_TRACE(entry.path().filename().string());
        run(testing::readFile(entry.path()));
        ++files;
    }
    EXPECT_GT(files, 0);
}

TEST(SettingsFuzzerReplayTest, HardInputs) {
    const std::string keystroke = R"({"keyCode":116,"modifiers":0,"displayName":"Page Up"})";
    for (
        const std::string& bytes : std::vector<std::string>{
            "",
            std::string(1, '\0'),
            "{",
            std::string(100000, '['),
            "{\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}",
            "{\"a\":1e999,\"b\":-1e999,\"c\":18446744073709551616}",
            "{\"clickerDistributor.previousKeystroke\":" + keystroke +
                ",\"clickerDistributor.nextKeystroke\":" + keystroke + "}",
            R"({"clickerDistributor.customAssignments":[{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"}]})",
            "{\"\\u0000\":\"\\ud800\"}",
        }) {
        SCOPED_TRACE(bytes.substr(0, 80));
        run(bytes);
    }
}

}  // namespace
}  // namespace kelvra
