// SPDX-License-Identifier: MIT
#include "backend/ClickerCommandInput.h"

#include <cerrno>

#include "backend/DesktopProtocol.h"

namespace kelvra {
namespace {

std::array<std::string, allClickerCustomActions.size()> actionLines() {
    std::array<std::string, allClickerCustomActions.size()> lines;
    for (const auto action : allClickerCustomActions) {
        lines[static_cast<size_t>(action)] =
            DesktopProtocol::clickerActionCommand(rawValue(action));
    }
    return lines;
}

}  // namespace

ClickerCommandInput::ClickerCommandInput()
    : keyLines_{DesktopProtocol::clickerKeyCommand(rawValue(ClickerDirection::left)),
                DesktopProtocol::clickerKeyCommand(rawValue(ClickerDirection::right))},
      actionLines_(actionLines()) {}

void ClickerCommandInput::open(std::shared_ptr<UniqueFd> input) {
    std::lock_guard lock(mutex_);
    input_.swap(input);
}  // the one replaced is released here, after the lock

void ClickerCommandInput::close() {
    open(nullptr);
}

void ClickerCommandInput::write(ClickerDirection direction) noexcept {
    writeLine(keyLines_[static_cast<size_t>(direction)]);
}

void ClickerCommandInput::write(ClickerCustomAction action) noexcept {
    writeLine(actionLines_[static_cast<size_t>(action)]);
}

void ClickerCommandInput::writeLine(const std::string& line) noexcept {
    // The copy keeps the descriptor open through the write, whatever `close` does meanwhile.
    std::shared_ptr<UniqueFd> input;
    {
        std::lock_guard lock(mutex_);
        input = input_;
    }
    if (!input) {
        return;
    }
    const ssize_t written = ::write(input->get(), line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) {
        int none = kNoDrop;
        drop_.compare_exchange_strong(none, written < 0 ? errno : 0);
    }
}

std::optional<int> ClickerCommandInput::takeDrop() {
    const int drop = drop_.exchange(kNoDrop);
    return drop == kNoDrop ? std::nullopt : std::optional<int>(drop);
}

}  // namespace kelvra
