// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <thread>

#include "core/Error.h"
#include "core/FileLog.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::readLines;
using testing::TemporaryDirectory;
using testing::writeFile;

TEST(FileLogTest, FormatsOneUTCLinePerWrite) {
    // 2026-03-14T09:26:53Z
    const auto time = std::chrono::system_clock::time_point(std::chrono::seconds(1773480413)) +
                      std::chrono::milliseconds(999);
    EXPECT_EQ(FileLog::formatLine(time, "updater", "x"), "2026-03-14T09:26:53Z [updater] x\n");
    EXPECT_EQ(FileLog::formatLine(time, "server:err", "two\nlines"),
              "2026-03-14T09:26:53Z [server:err] two\nlines\n");
    EXPECT_EQ(FileLog::formatLine(time, "server", "bad \xFF byte"),
              "2026-03-14T09:26:53Z [server] bad \uFFFD byte\n");
}

std::string messageOf(const std::string& line) {
    return line.substr(line.find("] ") + 2);
}

std::vector<std::string> messagesIn(const fs::path& file) {
    std::vector<std::string> messages;
    for (const auto& line : fs::exists(file) ? readLines(file) : std::vector<std::string>{}) {
        messages.push_back(messageOf(line));
    }
    return messages;
}

using Messages = std::vector<std::string>;

TEST(FileLogTest, RotatesAtTheLimitWhenOpenedAndWhileRunning) {
    const struct {
        size_t size;
        bool rotated;
    } rows[] = {{99, false}, {100, true}, {101, true}};
    for (const auto& row : rows) {
        TemporaryDirectory directory;
        const std::string old = std::string(row.size - 1, 'o') + "\n";
        writeFile(directory.path() / "kelvra-hub.log", old);
        writeFile(directory.path() / "kelvra-hub.previous.log", "older generation");
        auto log = FileLog::open(directory.path(), 100);
        ASSERT_TRUE(log.has_value());
        EXPECT_EQ(readFile((*log)->previousPath()), row.rotated ? old : "older generation")
            << row.size;
    }

    // Each line here takes 76 bytes, so no two fit in 100.
    TemporaryDirectory directory;
    auto log = FileLog::open(directory.path(), 100);
    ASSERT_TRUE(log.has_value());
    const std::string message(50, 'm');
    for (const char* mark : {"1", "2", "3"}) {
        (*log)->write("t", message + mark);
    }
    EXPECT_EQ(messagesIn((*log)->path()), Messages{message + "3"});
    EXPECT_EQ(messagesIn((*log)->previousPath()), Messages{message + "2"});
}

TEST(FileLogTest, OnlyTheLogThatHoldsTheDirectoryRotates) {
    TemporaryDirectory directory;
    // The first log to open creates the folders.
    const auto logDirectory = directory.path() / "state" / "Morvane" / "Kelvra Hub";
    const std::string big(150, 'b');
    auto holder = FileLog::open(logDirectory, 100);
    ASSERT_TRUE(holder.has_value());
    (*holder)->write("t", big + "1");

    // A second log, as a self-test beside the running instance opens it, appends to a file over
    // the limit and leaves it where it is.
    auto other = FileLog::open(logDirectory, 100);
    ASSERT_TRUE(other.has_value());
    (*other)->write("t", big + "2");
    EXPECT_EQ(messagesIn((*holder)->path()), (Messages{big + "1", big + "2"}));
    EXPECT_FALSE(fs::exists((*holder)->previousPath()));

    // The holder's next line rotates, and the other log follows it to the new file.
    (*holder)->write("t", "3");
    (*other)->write("t", "4");
    EXPECT_EQ(messagesIn((*holder)->path()), (Messages{"3", "4"}));
    EXPECT_EQ(messagesIn((*holder)->previousPath()), (Messages{big + "1", big + "2"}));

    // Once the holder is closed, the next log to open holds the directory.
    holder->reset();
    auto next = FileLog::open(logDirectory, 100);
    ASSERT_TRUE(next.has_value());
    (*next)->write("t", big + "5");
    EXPECT_EQ(messagesIn((*next)->path()), Messages{big + "5"});
    EXPECT_EQ(messagesIn((*next)->previousPath()), (Messages{"3", "4"}));
}

TEST(FileLogTest, CreationFailuresSayWhichStepFailed) {
    TemporaryDirectory directory;
    writeFile(directory.path() / "occupied", "a file where the folder should be");
    for (const auto& blocked :
         {directory.path() / "occupied" / "logs", directory.path() / "occupied"}) {
        const auto log = FileLog::open(blocked, 100);
        ASSERT_FALSE(log.has_value());
        EXPECT_EQ(log.error().kind(), FileLogError::Kind::createDirectory);
    }

    // The current log is a directory: it is big enough to rotate, and rotation must fail over a
    // previous generation that is a non-empty directory too.
    fs::create_directories(directory.path() / "d" / "kelvra-hub.log" / "x");
    fs::create_directories(directory.path() / "d" / "kelvra-hub.previous.log" / "y");
    const auto unopenable = FileLog::open(directory.path() / "d", 0);
    ASSERT_FALSE(unopenable.has_value());
    EXPECT_EQ(unopenable.error().kind(), FileLogError::Kind::rotate);
}

TEST(FileLogTest, ConcurrentWritesNeverInterleave) {
    TemporaryDirectory directory;
    auto log = FileLog::open(directory.path(), FileLog::kDefaultMaximumBytes);
    ASSERT_TRUE(log.has_value());
    constexpr int kThreads = 4;
    constexpr int kLines = 100;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            const std::string message(500, static_cast<char>('a' + thread));
            for (int line = 0; line < kLines; ++line) {
                (*log)->write("t", message);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto lines = readLines((*log)->path());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    for (const auto& line : lines) {
        const auto message = messageOf(line);
        ASSERT_EQ(message.size(), 500u);
        EXPECT_EQ(message.find_first_not_of(message[0]), std::string::npos);
    }
}

size_t threadsNamed(const std::string& name) {
    size_t count = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        count += readFile(task.path() / "comm") == name + "\n" ? 1 : 0;
    }
    return count;
}

TEST(FileLogTest, SyncsOnAThreadThatRunsOnlyWhileLinesCome) {
    TemporaryDirectory directory;
    auto log = FileLog::open(directory.path(), FileLog::kDefaultMaximumBytes);
    ASSERT_TRUE(log.has_value());
    for (const char* message : {"first", "after a quiet spell"}) {
        EXPECT_EQ(threadsNamed("log-sync"), 0u) << "a thread waits for lines";
        (*log)->write("t", message);
        EXPECT_EQ(threadsNamed("log-sync"), 1u) << "nothing syncs the line";
        EXPECT_TRUE(testing::eventually([] { return threadsNamed("log-sync") == 0; }));
    }
    EXPECT_EQ(readLines((*log)->path()).size(), 2u);
}

}  // namespace
}  // namespace kelvra
