// SPDX-License-Identifier: MIT
#include "backend/BackendOutputWatcher.h"

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <thread>

#include "backend/UTF8LineBuffer.h"

namespace kelvra::BackendOutputWatcher {
namespace {

struct Stream {
    BackendStream kind;
    UniqueFd descriptor;
    UTF8LineBuffer buffer;
};

class Watcher {
public:
    Watcher(std::shared_ptr<ChildProcess> process, UniqueFd standardOutput, UniqueFd standardError,
            BackendOutputEvents events, std::shared_ptr<BackendExitSignal> gone)
        : process_(std::move(process)), events_(std::move(events)), gone_(std::move(gone)) {
        streams_[0].kind = BackendStream::standardOutput;
        streams_[0].descriptor = std::move(standardOutput);
        streams_[1].kind = BackendStream::standardError;
        streams_[1].descriptor = std::move(standardError);
    }

    void run() {
        pthread_setname_np(pthread_self(), "backend-io");
        while (true) {
            pollfd descriptors[3] = {
                {streams_[0].descriptor.get(), POLLIN, 0},
                {streams_[1].descriptor.get(), POLLIN, 0},
                {process_->exitDescriptor(), POLLIN, 0},
            };
            if (::poll(descriptors, 3, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            for (int index = 0; index < 2; ++index) {
                if (streams_[index].descriptor && descriptors[index].revents != 0) {
                    readOnce(streams_[index]);
                }
            }
            if (descriptors[2].revents != 0) {
                break;
            }
        }
        // Reaping also ends what is left of the process group, so no worker keeps the pipes.
        const auto exit = process_->reap();
        // What the child printed last is still in the pipes; nothing more is read after this.
        for (auto& stream : streams_) {
            while (stream.descriptor && readOnce(stream)) {
            }
            if (stream.descriptor) {
                finish(stream);
            }
        }
        events_.exit(exit);
        gone_->set();
    }

private:
    /// Reads one chunk; false when there was nothing to read now or the stream has ended.
    bool readOnce(Stream& stream) {
        const ssize_t count = ::read(stream.descriptor.get(), buffer_, sizeof buffer_);
        if (count > 0) {
            auto lines =
                stream.buffer.append(std::string_view(buffer_, static_cast<size_t>(count)));
            if (!lines) {
                // Nothing after a broken line can be trusted, and the child's next writes fail
                // rather than filling the pipe.
                stream.descriptor.reset();
                stream.buffer = {};
            }
            report(stream.kind, lines);
            return lines.has_value();
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return false;
        }
        finish(stream);
        return false;
    }

    void finish(Stream& stream) {
        stream.descriptor.reset();
        report(stream.kind, stream.buffer.finish());
    }

    void report(BackendStream kind,
                const std::expected<std::vector<std::string>, DesktopProtocolError>& lines) {
        if (!lines) {
            events_.protocolFailure(lines.error());
            return;
        }
        for (const auto& line : *lines) {
            events_.line(kind, line);
        }
    }

    const std::shared_ptr<ChildProcess> process_;
    const BackendOutputEvents events_;
    const std::shared_ptr<BackendExitSignal> gone_;
    Stream streams_[2];
    char buffer_[65536];
};

}  // namespace

void watch(std::shared_ptr<ChildProcess> process, UniqueFd standardOutput, UniqueFd standardError,
           BackendOutputEvents events, std::shared_ptr<BackendExitSignal> gone) {
    auto watcher =
        std::make_unique<Watcher>(std::move(process), std::move(standardOutput),
                                  std::move(standardError), std::move(events), std::move(gone));
    // Detached: the child may outlive its supervisor, and its exit must still be collected.
    std::thread([watcher = std::move(watcher)] { watcher->run(); }).detach();
}

}  // namespace kelvra::BackendOutputWatcher
