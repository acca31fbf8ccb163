// SPDX-License-Identifier: MIT
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

#include "core/SettingsStore.h"
#include "core/StrictJson.h"
#include "support/TestSupport.h"

namespace kelvra {

void PrintTo(const SettingsStoreError& error, std::ostream* stream) {
    *stream << error.diagnosticDescription();
}

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::readFile;
using testing::TemporaryDirectory;
using testing::writeFile;
using Kind = SettingsStoreError::Kind;

// 2026-03-14T09:26:53Z
const auto kFixedTime = std::chrono::system_clock::time_point(std::chrono::seconds(1773480413));

JsonFileSettingsStore::Seams fixedClock(std::function<int(Kind)> failStep = {}) {
    return {std::move(failStep), [] { return kFixedTime; }};
}

std::vector<std::string> directoryEntries(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    /// Empties the directory, for a row of its own.
    void clearDirectory() const {
        for (const auto& entry : fs::directory_iterator(directory.path())) {
            fs::remove_all(entry.path());
        }
    }

    TemporaryDirectory directory;
    const fs::path path = directory.path() / "settings.json";
};

TEST_F(SettingsStoreTest, TypedReadsAnswerOnlyTheirOwnType) {
    const struct {
        std::string stored;
        std::optional<int64_t> integer;
        std::optional<std::string> text;
        std::optional<bool> boolean;
    } rows[] = {
        {"9223372036854775807", INT64_MAX, {}, {}},
        {"18446744073709551615", {}, {}, {}},
        {"1.0", {}, {}, {}},
        {"true", {}, {}, true},
        {"\"42\"", {}, "42", {}},
        {"[1,2]", {}, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        writeFile(path, "{\"key\":" + row.stored + "}");
        const JsonFileSettingsStore store(path);
        ASSERT_FALSE(store.openingProblem().has_value());
        EXPECT_EQ(store.integerValue("key"), row.integer);
        EXPECT_EQ(store.text("key"), row.text);
        EXPECT_EQ(store.boolean("key"), row.boolean);
        EXPECT_EQ(store.dictionary("key").has_value(), false);
        EXPECT_EQ(store.array("key").has_value(), row.stored == "[1,2]");
    }
}

TEST_F(SettingsStoreTest, WritesSurviveReopeningAndRemovalsToo) {
    // A first write creates the missing folders, private to the user.
    const auto deep = directory.path() / "config" / "Morvane" / "Kelvra Hub" / "settings.json";
    {
        JsonFileSettingsStore store(deep);
        ASSERT_TRUE(store.setInteger("port", -31603).has_value());
        ASSERT_TRUE(store.setText("mode", "service \u00E9").has_value());
        ASSERT_TRUE(store.setBoolean("flag", false).has_value());
        ASSERT_TRUE(store.setDictionary("dictionary", {{"keyCode", 116}}).has_value());
        ASSERT_TRUE(store.setArray("array", {json::object({{"id", "x"}}), 3}).has_value());
        ASSERT_TRUE(store.setText("name", "bad \xFF byte").has_value());
        ASSERT_TRUE(store.setText("gone", "soon").has_value());
        ASSERT_TRUE(store.remove("gone").has_value());
        ASSERT_TRUE(store.remove("never there").has_value());
    }
    EXPECT_EQ(testing::modeOf(deep), 0600u);
    EXPECT_EQ(testing::modeOf(deep.parent_path()), 0700u);

    const JsonFileSettingsStore reopened(deep);
    EXPECT_EQ(reopened.integerValue("port"), -31603);
    EXPECT_EQ(reopened.text("mode"), "service \u00E9");
    EXPECT_EQ(reopened.boolean("flag"), false);
    EXPECT_EQ(reopened.dictionary("dictionary"), (json::object_t{{"keyCode", 116}}));
    EXPECT_EQ(reopened.array("array"), (json::array_t{json::object({{"id", "x"}}), 3}));
    // Invalid UTF-8 from a caller is saved as replacement characters.
    EXPECT_EQ(reopened.text("name"), "bad \uFFFD byte");
    EXPECT_FALSE(reopened.value("gone").has_value());
    EXPECT_EQ(json::parse(readFile(deep)).size(), 6u);
    EXPECT_EQ(directoryEntries(deep.parent_path()), std::vector<std::string>{"settings.json"});
}

TEST_F(SettingsStoreTest, AppliesChangesInOrderAsOneUpdate) {
    InMemorySettingsStore memory({{"a", 1}, {"b", 2}});
    JsonFileSettingsStore file(path);
    ASSERT_TRUE(file.apply({{"a", 1}, {"b", 2}}).has_value());
    for (SettingsStore* store : std::initializer_list<SettingsStore*>{&memory, &file}) {
        ASSERT_TRUE(store->apply({{"a", std::nullopt}, {"a", 3}, {"b", 4}, {"b", std::nullopt}})
                        .has_value());
        EXPECT_EQ(store->integerValue("a"), 3);
        EXPECT_FALSE(store->value("b").has_value());
    }
    EXPECT_EQ(memory.values(), (json::object_t{{"a", 3}}));
    EXPECT_EQ(json::parse(readFile(file.path())), json({{"a", 3}}));
}

TEST_F(SettingsStoreTest, ABadFileIsMovedAsideUnchangedAndReadingStartsEmpty) {
    std::string deep;
    for (int level = 0; level < StrictJson::kMaximumDepth; ++level) {
        deep += "[";
    }
    deep += std::string(StrictJson::kMaximumDepth, ']');
    const std::string tooDeep = "{\"a\":" + deep + "}";
    const std::string deepEnough = "{\"a\":" + deep.substr(1, deep.size() - 2) + "}";
    const std::string tooLarge =
        "{\"a\":\"" + std::string(JsonFileSettingsStore::kMaximumFileBytes, 'x') + "\"}";

    const struct {
        std::string name;
        std::string contents;
        bool setAside;
    } rows[] = {
        {"object", "{\"a\":1}", false},
        {"byte order mark", "\xEF\xBB\xBF{\"a\":1}", false},
        {"nested to the limit", deepEnough, false},
        {"truncated", "{\"a\":1", true},
        {"array", "[{\"a\":1}]", true},
        {"trailing text", "{\"a\":1} x", true},
        {"invalid UTF-8 in a string", "{\"a\":\"\xFF\"}", true},
        {"nested too deeply", tooDeep, true},
        {"too large", tooLarge, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        clearDirectory();
        writeFile(path, row.contents);
        const JsonFileSettingsStore store(path, fixedClock());
        const auto aside = directory.path() / "settings.json.corrupt-20260314T092653Z";
        if (row.setAside) {
            ASSERT_TRUE(store.openingProblem().has_value());
            EXPECT_EQ(*store.openingProblem(),
                      SettingsStoreError(Kind::corruptFileSetAside, path,
                                         row.name == "too large" ? EFBIG : 0, aside));
            EXPECT_EQ(readFile(aside), row.contents);
            EXPECT_FALSE(fs::exists(path));
            EXPECT_FALSE(store.value("a").has_value());
        } else {
            EXPECT_FALSE(store.openingProblem().has_value());
            EXPECT_EQ(readFile(path), row.contents);
            EXPECT_EQ(directoryEntries(directory.path()),
                      std::vector<std::string>{"settings.json"});
        }
    }
}

TEST_F(SettingsStoreTest, MovingAsideNeverReplacesAnEarlierFile) {
    const std::string stamp = "settings.json.corrupt-20260314T092653Z";
    writeFile(directory.path() / stamp, "first");
    writeFile(directory.path() / (stamp + "-2"), "second");
    writeFile(path, "third");
    const JsonFileSettingsStore store(path, fixedClock());
    ASSERT_TRUE(store.openingProblem().has_value());
    EXPECT_EQ(store.openingProblem()->setAsidePath(), directory.path() / (stamp + "-3"));
    EXPECT_EQ(readFile(directory.path() / stamp), "first");
    EXPECT_EQ(readFile(directory.path() / (stamp + "-2")), "second");
    EXPECT_EQ(readFile(directory.path() / (stamp + "-3")), "third");
}

// A file that cannot be read, or that is bad and cannot be moved aside, is never saved over;
// once it reads or moves, the changes made meanwhile are saved.
TEST_F(SettingsStoreTest, AFileThatCannotBeReadOrMovedAsideIsKeptUntilItCan) {
    const std::string stored = "{\"hubServerPort\":8080,\"kept\":true}";
    const struct {
        std::string name;
        std::optional<std::string> contents;  ///< absent: a folder in the file's place
        Kind step;
        int injectedError;
    } rows[] = {
        {"input/output error", stored, Kind::readFailed, EIO},
        {"too many open files", stored, Kind::readFailed, EMFILE},
        {"folder", std::nullopt, Kind::readFailed, 0},
        {"bad file on a read-only folder", "{broken", Kind::setAsideFailed, EROFS},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        clearDirectory();
        if (row.contents) {
            writeFile(path, *row.contents);
        } else {
            fs::create_directories(path / "inside");
        }
        bool failing = true;
        JsonFileSettingsStore store(path, fixedClock([&](Kind step) {
                                        return step == row.step && failing ? row.injectedError : 0;
                                    }));
        const SettingsStoreError failure(row.step, path, row.contents ? row.injectedError : EISDIR);
        EXPECT_EQ(store.openingProblem(), failure);
        EXPECT_FALSE(store.value("hubServerPort").has_value());

        EXPECT_EQ(store.setInteger("hubServerPort", 9090), std::unexpected(failure));
        EXPECT_EQ(store.integerValue("hubServerPort"), 9090);
        EXPECT_EQ(directoryEntries(directory.path()), std::vector<std::string>{"settings.json"});
        if (!row.contents) {
            EXPECT_TRUE(fs::exists(path / "inside"));
            continue;
        }
        EXPECT_EQ(readFile(path), *row.contents);

        failing = false;
        ASSERT_TRUE(store.setText("mode", "localhost").has_value());
        json expected = {{"hubServerPort", 9090}, {"mode", "localhost"}};
        if (row.step == Kind::readFailed) {
            expected["kept"] = true;
        } else {
            EXPECT_EQ(readFile(directory.path() / "settings.json.corrupt-20260314T092653Z"),
                      *row.contents);
        }
        EXPECT_EQ(json::parse(readFile(path)), expected);
    }
}

// Only a failed sync of the folder comes after the new file is in place.
TEST_F(SettingsStoreTest, AFailedReplacementLeavesTheOldFileAndKeepsTheNewValueInMemory) {
    const struct {
        Kind step;
        int errorNumber;
    } rows[] = {
        {Kind::createDirectory, EACCES},    {Kind::createTemporaryFile, EROFS},
        {Kind::writeTemporaryFile, ENOSPC}, {Kind::synchronizeTemporaryFile, EIO},
        {Kind::replaceFile, EIO},           {Kind::synchronizeDirectory, EIO},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.step));
        clearDirectory();
        const std::string old = "{\"port\":1,\"kept\":true}";
        writeFile(path, old);
        std::optional<Kind> failing = row.step;
        JsonFileSettingsStore store(
            path, fixedClock([&](Kind step) { return step == failing ? row.errorNumber : 0; }));

        const auto result = store.setInteger("port", 2);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().kind(), row.step);
        EXPECT_EQ(result.error().errorNumber(), row.errorNumber);
        EXPECT_EQ(JsonFileSettingsStore(path).integerValue("port"),
                  row.step == Kind::synchronizeDirectory ? 2 : 1);
        EXPECT_EQ(directoryEntries(directory.path()), std::vector<std::string>{"settings.json"});
        EXPECT_EQ(store.integerValue("port"), 2);

        // The next write that succeeds saves the earlier change with its own.
        failing.reset();
        ASSERT_TRUE(store.setText("mode", "localhost").has_value());
        const JsonFileSettingsStore reopened(path);
        EXPECT_EQ(reopened.integerValue("port"), 2);
        EXPECT_EQ(reopened.text("mode"), "localhost");
        EXPECT_EQ(reopened.boolean("kept"), true);
    }
}

TEST_F(SettingsStoreTest, ConcurrentWritersAllReachTheFile) {
    JsonFileSettingsStore store(path);
    constexpr int kThreads = 4;
    constexpr int kWrites = 25;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&store, thread] {
            for (int write = 0; write < kWrites; ++write) {
                const std::string key = std::to_string(thread) + "." + std::to_string(write);
                EXPECT_TRUE(store.setInteger(key, write).has_value());
                EXPECT_EQ(store.integerValue(key), write);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const JsonFileSettingsStore reopened(path);
    for (int thread = 0; thread < kThreads; ++thread) {
        for (int write = 0; write < kWrites; ++write) {
            EXPECT_EQ(reopened.integerValue(std::to_string(thread) + "." + std::to_string(write)),
                      write);
        }
    }
}

}  // namespace
}  // namespace kelvra
