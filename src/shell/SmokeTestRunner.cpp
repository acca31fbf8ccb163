// SPDX-License-Identifier: MIT
#include "shell/SmokeTestRunner.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "core/FileLog.h"
#include "core/HttpClient.h"
#include "core/Unicode.h"

namespace kelvra {

SmokeTestError SmokeTestError::uncleanExit(std::optional<int32_t> code) {
    SmokeTestError error(Kind::uncleanExit);
    error.code_ = code;
    return error;
}

std::string SmokeTestError::description() const {
    switch (kind_) {
        case Kind::uncleanExit:
            return "The packaged server did not exit cleanly (code " +
                   (code_ ? std::to_string(*code_) : std::string("unknown")) + ").";
        case Kind::unsuccessfulResponse:
            return "The packaged server returned an unsuccessful HTTP response.";
        case Kind::missingProductPage:
            return "The packaged server did not return the Kelvra Hub webpage.";
    }
    return {};
}

std::string SmokeTestError::diagnosticDescription() const {
    switch (kind_) {
        case Kind::uncleanExit:
            return "SmokeTestError.uncleanExit(" + (code_ ? std::to_string(*code_) : "nil") + ")";
        case Kind::unsuccessfulResponse:
            return "SmokeTestError.unsuccessfulResponse";
        case Kind::missingProductPage:
            return "SmokeTestError.missingProductPage";
    }
    return {};
}

namespace SmokeTestRunner {
namespace {

constexpr std::chrono::seconds kRequestTimeout{10};

/// The self-test has no event loop: the thread that waits for the supervisor runs its posted
/// work, and delayed work once its time has come on the real clock.
class WaitingMainThread final : public MainThreadExecutor {
public:
    void post(std::function<void()> work) override { postDelayed({}, std::move(work)); }

    CancellableWork postDelayed(Duration delay, std::function<void()> work) override {
        const auto handle = CancellableWork::create();
        {
            std::lock_guard lock(mutex_);
            work_.emplace(std::pair{Clock::now() + delay, nextSequence_++},
                          Item{std::move(work), handle});
        }
        changed_.notify_all();
        return handle;
    }

    bool isMainThread() const override { return std::this_thread::get_id() == thread_; }

    /// Runs work as it falls due until `done` holds; only that work changes `done`.
    void runUntil(const std::function<bool()>& done) {
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (work_.empty() || work_.begin()->first.first > Clock::now()) {
                if (work_.empty()) {
                    changed_.wait(lock);
                } else {
                    changed_.wait_until(lock, work_.begin()->first.first);
                }
                continue;
            }
            auto item = std::move(work_.begin()->second);
            work_.erase(work_.begin());
            lock.unlock();
            if (!item.handle.isCancelled()) {
                item.work();
            }
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Item {
        std::function<void()> work;
        CancellableWork handle;
    };

    const std::thread::id thread_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::pair<Clock::time_point, uint64_t>, Item> work_;
    uint64_t nextSequence_ = 0;
};

/// The supervisor driven from the self-test's thread.
class Session {
public:
    explicit Session(std::shared_ptr<BackendSupervisor> supervisor,
                     std::shared_ptr<WaitingMainThread> mainThread)
        : supervisor_(std::move(supervisor)), mainThread_(std::move(mainThread)) {}

    std::expected<std::string, BackendStartError> start() {
        std::optional<std::expected<std::string, BackendStartError>> outcome;
        supervisor_->start([&outcome](auto result) { outcome = std::move(result); });
        mainThread_->runUntil([&outcome] { return outcome.has_value(); });
        return *outcome;
    }

    void stop() {
        bool stopped = false;
        supervisor_->stop([&stopped] { stopped = true; });
        mainThread_->runUntil([&stopped] { return stopped; });
    }

    std::optional<int32_t> recordedExitCode() const { return supervisor_->recordedExitCode(); }

private:
    const std::shared_ptr<BackendSupervisor> supervisor_;
    const std::shared_ptr<WaitingMainThread> mainThread_;
};

/// Everything after the backend exists; the error says what went wrong first.
std::expected<void, Error> exercise(Session& session) {
    const auto url = session.start();
    if (!url) {
        return std::unexpected(url.error());
    }
    const auto response = httpGet(*url, kRequestTimeout);
    if (!response) {
        return std::unexpected(response.error());
    }
    if (response->statusCode < 200 || response->statusCode > 299) {
        return std::unexpected(SmokeTestError(SmokeTestError::Kind::unsuccessfulResponse));
    }
    if (!Unicode::isValidUTF8(response->body) ||
        response->body.find("Kelvra Hub") == std::string::npos) {
        return std::unexpected(SmokeTestError(SmokeTestError::Kind::missingProductPage));
    }
    session.stop();
    if (const auto code = session.recordedExitCode(); code != 0) {
        return std::unexpected(SmokeTestError::uncleanExit(code));
    }
    return {};
}

}  // namespace

int32_t run(const BackendLaunchInfo& launchInfo, const std::filesystem::path& logDirectory,
            BackendSupervisorTimeouts timeouts) {
    auto log = FileLog::open(logDirectory, FileLog::kDefaultMaximumBytes);
    if (!log) {
        if (auto retry = FileLog::open(logDirectory, FileLog::kDefaultMaximumBytes)) {
            (*retry)->write("shell:fatal", log.error().diagnosticDescription());
        }
        return 1;
    }
    auto mainThread = std::make_shared<WaitingMainThread>();
    Session session(BackendSupervisor::create(launchInfo, *log, std::nullopt, mainThread, timeouts),
                    mainThread);
    const auto outcome = exercise(session);
    if (outcome) {
        (*log)->write("smoke", "Portable Kelvra Hub smoke test passed.");
        return 0;
    }
    session.stop();  // harmless when the backend has stopped already
    (*log)->write("smoke", outcome.error().diagnosticDescription());
    return 1;
}

}  // namespace SmokeTestRunner
}  // namespace kelvra
