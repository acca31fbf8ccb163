// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/ClickerCommand.h"
#include "core/UniqueFd.h"

namespace kelvra {

/// The backend's standard input as the keyboard listener's thread writes clicker commands to it.
/// A write is one non-blocking write(2) of a line formatted in advance: it never allocates or
/// blocks, and takes the lock only to copy the pipe's shared owner, which no one holds across
/// anything else; so the tap thread may make it. Holding that copy through the write, no write
/// goes to a closed descriptor or to a number reused since. Lines are shorter than PIPE_BUF: the
/// pipe takes all of one or none, and a line it cannot take is dropped and remembered for logging
/// off that thread.
class ClickerCommandInput {
public:
    ClickerCommandInput();
    ClickerCommandInput(const ClickerCommandInput&) = delete;
    ClickerCommandInput& operator=(const ClickerCommandInput&) = delete;

    /// Commands go to `input` (non-blocking) from now on.
    void open(std::shared_ptr<UniqueFd> input);
    /// No command is written any more, until the next `open`.
    void close();

    void write(ClickerDirection direction) noexcept;
    void write(ClickerCustomAction action) noexcept;

    /// Why the first command dropped since the last call was dropped (an errno; 0 for a short
    /// write), or nothing when none was.
    std::optional<int> takeDrop();

private:
    static constexpr int kNoDrop = -1;

    void writeLine(const std::string& line) noexcept;

    const std::array<std::string, 2> keyLines_;
    const std::array<std::string, allClickerCustomActions.size()> actionLines_;
    std::mutex mutex_;
    std::shared_ptr<UniqueFd> input_;
    std::atomic<int> drop_{kNoDrop};
};

}  // namespace kelvra
