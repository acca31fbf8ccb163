// SPDX-License-Identifier: MIT
// Runs the settings fuzzer's seed corpus, the known hard inputs among them, in the regular
// test run, so that the ordinary and sanitizer builds check what the fuzzer found.
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

// Too big for a seed: they would raise the fuzzer's input length for every run.
TEST(SettingsFuzzerReplayTest, DeeplyNestedDocuments) {
    run(std::string(100000, '['));
    run("{\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}");
}

}  // namespace
}  // namespace kelvra
