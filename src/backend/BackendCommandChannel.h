// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "backend/BackendSupervisorError.h"
#include "backend/BackendSupervisorTimeouts.h"
#include "backend/ClickerCommandInput.h"
#include "backend/DesktopProtocol.h"
#include "core/CancellableWork.h"
#include "core/LogSink.h"
#include "core/MainThreadExecutor.h"
#include "core/UniqueFd.h"

namespace kelvra {

/// Writes commands to the backend's standard input and matches switch requests with their
/// answers. Each command is one non-blocking write made on the caller's thread, so callers
/// never wait on the pipe and a key costs one system call; a command the pipe cannot take is
/// dropped, and the first drop is logged. Lines are shorter than PIPE_BUF, so concurrent
/// callers' lines never interleave, and one caller's commands arrive in the order it sent them.
/// Clicker keys go through `clickerCommands`, which the keyboard listener's thread writes to
/// itself; their drops are logged at the channel's next switch request, answer or close.
class BackendCommandChannel : public std::enable_shared_from_this<BackendCommandChannel> {
public:
    using UpdateCompletion = std::function<void(std::expected<bool, BackendSupervisorError>)>;

    static std::shared_ptr<BackendCommandChannel> create(
        std::shared_ptr<LogSink> log, std::shared_ptr<MainThreadExecutor> mainThread,
        BackendSupervisorTimeouts::Seconds requestTimeout);

    /// Fails every pending switch request at once.
    ~BackendCommandChannel();
    BackendCommandChannel(const BackendCommandChannel&) = delete;
    BackendCommandChannel& operator=(const BackendCommandChannel&) = delete;

    /// The child's input (non-blocking); nothing is written before `open`.
    void attach(std::shared_ptr<UniqueFd> input);

    /// The backend is ready: commands flow from now on, until `close`.
    void open();

    /// No command is written any more, whatever comes later.
    void close();

    /// Like `close`, and every pending switch request fails at once: nobody will answer it.
    void end();

    /// Where clicker keys go: open exactly while the channel is, for any thread to write to.
    const std::shared_ptr<ClickerCommandInput>& clickerCommands() const { return keys_; }

    /// Asks the backend to switch the Clicker Distributor; completes on the main thread with
    /// the confirmed state, or fails when the command cannot be written, the answer is a
    /// refusal, no answer comes in time, or the channel ends first.
    void request(bool enabled, UpdateCompletion completion);

    /// The backend's answer to a request; answers nobody waits for are ignored.
    void answer(const ClickerDistributorUpdateResult& result);

private:
    enum class Gate { waiting, open, closed };
    struct Pending {
        UpdateCompletion completion;
        CancellableWork timeout;
    };

    BackendCommandChannel(std::shared_ptr<LogSink> log,
                          std::shared_ptr<MainThreadExecutor> mainThread,
                          BackendSupervisorTimeouts::Seconds requestTimeout);

    bool write(const std::string& line);
    void logKeyDrop();
    void logDropOnce(int errorNumber);
    void finish(const std::string& requestId, std::expected<bool, BackendSupervisorError> result);
    void failAllPending();

    const std::shared_ptr<LogSink> log_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const BackendSupervisorTimeouts::Seconds requestTimeout_;
    const std::shared_ptr<ClickerCommandInput> keys_ = std::make_shared<ClickerCommandInput>();

    std::mutex mutex_;
    Gate gate_ = Gate::waiting;
    std::shared_ptr<UniqueFd> input_;
    bool dropLogged_ = false;
    std::map<std::string, Pending> pending_;
};

}  // namespace kelvra
