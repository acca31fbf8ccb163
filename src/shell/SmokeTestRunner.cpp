// SPDX-License-Identifier: MIT
#include "shell/SmokeTestRunner.h"

#include <future>

#include "core/Error.h"
#include "core/FileLog.h"
#include "core/HttpClient.h"
#include "core/QueueMainThreadExecutor.h"
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

/// The supervisor driven from the self-test's thread, which has no event loop: everything the
/// supervisor does runs on a queue that stands in for the main thread, and this thread waits.
class Session {
public:
    explicit Session(std::shared_ptr<BackendSupervisor> supervisor,
                     std::shared_ptr<QueueMainThreadExecutor> mainThread)
        : supervisor_(std::move(supervisor)), mainThread_(std::move(mainThread)) {}

    std::expected<std::string, BackendStartError> start() {
        std::promise<std::expected<std::string, BackendStartError>> outcome;
        mainThread_->post([&] {
            supervisor_->start([&outcome](auto result) { outcome.set_value(std::move(result)); });
        });
        return outcome.get_future().get();
    }

    /// Stops the backend and answers its exit code.
    std::optional<int32_t> stop() {
        std::promise<std::optional<int32_t>> exitCode;
        mainThread_->post([&] {
            supervisor_->stop([&] { exitCode.set_value(supervisor_->recordedExitCode()); });
        });
        return exitCode.get_future().get();
    }

private:
    const std::shared_ptr<BackendSupervisor> supervisor_;
    const std::shared_ptr<QueueMainThreadExecutor> mainThread_;
};

/// Everything after the backend exists; the error says what went wrong first.
std::expected<void, Error> exercise(Session& session) {
    const auto url = session.start();
    if (!url) {
        return std::unexpected(url.error());
    }
    HttpRequest request;
    request.url = *url;
    request.timeout = kRequestTimeout;
    const auto response = httpGet(request);
    if (!response) {
        const std::string& reason = response.error().reason;
        return std::unexpected(Error("The request to " + *url + " failed: " + reason + ".",
                                     "HttpError(" + reason + ", " + quoted(*url) + ")"));
    }
    if (response->statusCode < 200 || response->statusCode > 299) {
        return std::unexpected(SmokeTestError(SmokeTestError::Kind::unsuccessfulResponse));
    }
    if (!Unicode::isValidUTF8(response->body) ||
        response->body.find("Kelvra Hub") == std::string::npos) {
        return std::unexpected(SmokeTestError(SmokeTestError::Kind::missingProductPage));
    }
    if (const auto code = session.stop(); code != 0) {
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
    auto mainThread = std::make_shared<QueueMainThreadExecutor>();
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
