// SPDX-License-Identifier: MIT
#include "backend/SmokeTestRunner.h"

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

void stopAndWait(BackendSupervisor& supervisor) {
    std::promise<void> stopped;
    supervisor.stop([&stopped] { stopped.set_value(); });
    stopped.get_future().wait();
}

/// Everything after the backend exists; the error says what went wrong first.
std::expected<void, Error> exercise(BackendSupervisor& supervisor, MainThreadExecutor& mainThread) {
    std::promise<std::expected<std::string, Error>> started;
    // The start watches the backend's output, which belongs to the main thread.
    mainThread.post([&supervisor, &started] {
        supervisor.start([&started](auto outcome) { started.set_value(std::move(outcome)); });
    });
    const auto url = started.get_future().get();
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
    stopAndWait(supervisor);
    if (const auto code = supervisor.recordedExitCode(); code != 0) {
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
    // No event loop runs here: the supervisor's completions and the backend's output are taken
    // on a thread of their own.
    const auto mainThread = std::make_shared<QueueMainThreadExecutor>();
    auto supervisor =
        BackendSupervisor::create(launchInfo, *log, std::nullopt, mainThread, mainThread, timeouts);
    const auto outcome = exercise(*supervisor, *mainThread);
    if (outcome) {
        (*log)->write("smoke", "Portable Kelvra Hub smoke test passed.");
        return 0;
    }
    stopAndWait(*supervisor);  // harmless when the backend has stopped already
    (*log)->write("smoke", outcome.error().diagnosticDescription());
    return 1;
}

}  // namespace SmokeTestRunner
}  // namespace kelvra
