// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>
#include <filesystem>
#include <stdlib.h>
#include <string>

#include "core/FileLog.h"

namespace {

// Lines reach the file at once and the disk in batches, so this measures what a line costs
// the thread that writes it.
void BM_FileLogWrite(benchmark::State& state) {
    char pattern[] = "/tmp/kelvra-bench-XXXXXX";
    const std::filesystem::path directory = mkdtemp(pattern);
    auto log = kelvra::FileLog::open(directory, kelvra::FileLog::kDefaultMaximumBytes);
    if (!log) {
        state.SkipWithError(log.error().description().c_str());
        return;
    }
    const std::string message(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state) {
        (*log)->write("server", message);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("lines/s = items_per_second");
    log->reset();
    std::filesystem::remove_all(directory);
}
BENCHMARK(BM_FileLogWrite)->Arg(80)->Arg(1000)->UseRealTime();

void BM_FileLogFormatLine(benchmark::State& state) {
    const std::string message(80, 'x');
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            kelvra::FileLog::formatLine(std::chrono::system_clock::now(), "server", message));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FileLogFormatLine);

}  // namespace
