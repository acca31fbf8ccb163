// SPDX-License-Identifier: MIT
// Arbitrary bytes as the settings file: opening it and reading the Clicker Distributor's
// configuration must never crash, must answer a configuration that can be saved and read back
// unchanged, and the file and in-memory stores must agree on what the bytes hold.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>

#include "ConfigurationNames.h"
#include "clicker/ClickerInputConfigurationStore.h"
#include "core/SettingsStore.h"
#include "core/StrictJson.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvra;

[[noreturn]] void broken(const char* invariant) {
    std::fprintf(stderr, "settings fuzzer: %s\n", invariant);
    std::abort();
}

const fs::path& scratchDirectory() {
    static const kelvra::testing::TemporaryDirectory directory;
    return directory.path();
}

ClickerInputConfiguration readAndReadBack(const std::shared_ptr<SettingsStore>& settings) {
    ClickerInputConfigurationStore store(settings);
    const auto configuration = store.configuration();
    if (!ClickerInputConfigurationStore::isStorable(configuration)) {
        broken("a read answered a configuration that cannot be stored");
    }
    if (!store.setConfiguration(configuration).has_value()) {
        broken("saving a read configuration failed");
    }
    const auto again = store.configuration();
    if (again != configuration ||
        kelvra::testing::displayNames(again) != kelvra::testing::displayNames(configuration)) {
        broken("a saved configuration read back differently");
    }
    return configuration;
}

void decodeEveryValue(const nlohmann::json::object_t& document) {
    for (const auto& [key, value] : document) {
        (void)ClickerInputConfigurationStore::decodeKeystroke(value);
        (void)ClickerInputConfigurationStore::decodeAssignment(value);
        if (value.is_array()) {
            for (const auto& element : value) {
                (void)ClickerInputConfigurationStore::decodeAssignment(element);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto path = scratchDirectory() / "settings.json";
    kelvra::testing::writeFile(path, std::string(bytes));

    const auto parsed = StrictJson::parseObject(bytes);
    auto file = std::make_shared<JsonFileSettingsStore>(path);
    if (!bytes.empty() && parsed.has_value() == file->openingProblem().has_value()) {
        broken("the file store and the parser disagree on the bytes");
    }
    if (parsed) {
        decodeEveryValue(*parsed);
    }
    auto memory =
        std::make_shared<InMemorySettingsStore>(parsed.value_or(nlohmann::json::object_t{}));
    if (ClickerInputConfigurationStore(file).configuration() !=
        ClickerInputConfigurationStore(memory).configuration()) {
        broken("the file and in-memory stores read different configurations");
    }

    readAndReadBack(memory);
    // Saving rewrites everything else the file held too; it must open again as it was saved.
    const auto saved = readAndReadBack(file);
    const auto reopened = std::make_shared<JsonFileSettingsStore>(path);
    if (reopened->openingProblem().has_value() ||
        ClickerInputConfigurationStore(reopened).configuration() != saved) {
        broken("a saved settings file did not open to what was saved");
    }

    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(scratchDirectory(), ignored)) {
        fs::remove_all(entry.path(), ignored);
    }
    return 0;
}
