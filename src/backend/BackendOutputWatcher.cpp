// SPDX-License-Identifier: MIT
#include "backend/BackendOutputWatcher.h"

#include <cerrno>

#include "backend/UTF8LineBuffer.h"

namespace kelvra::BackendOutputWatcher {
namespace {

/// A pipe holds at most this much unless the administrator raised the limit, so it is all a
/// gone child can have left; a grandchild outside its process group cannot keep the main
/// thread reading beyond it.
constexpr size_t kMaximumDrainBytes = 1024 * 1024;

struct Stream {
    BackendStream kind;
    UniqueFd descriptor;
    UTF8LineBuffer buffer;
    /// Ended before `descriptor` is closed.
    std::unique_ptr<DescriptorWatching::Watch> watch;
};

class Watcher : public std::enable_shared_from_this<Watcher> {
public:
    Watcher(std::shared_ptr<DescriptorWatching> watching, std::shared_ptr<ChildProcess> process,
            BackendOutputEvents events, std::shared_ptr<BackendExitSignal> gone)
        : watching_(std::move(watching)),
          process_(std::move(process)),
          events_(std::move(events)),
          gone_(std::move(gone)) {}

    /// The watches hold the watcher until the child's exit ends them.
    void begin(UniqueFd standardOutput, UniqueFd standardError) {
        streams_[0].kind = BackendStream::standardOutput;
        streams_[0].descriptor = std::move(standardOutput);
        streams_[1].kind = BackendStream::standardError;
        streams_[1].descriptor = std::move(standardError);
        for (auto& stream : streams_) {
            stream.watch = watching_->watchReadable(
                stream.descriptor.get(),
                [self = shared_from_this(), &stream] { self->readOnce(stream); });
        }
        exitWatch_ = watching_->watchReadable(process_->exitDescriptor(),
                                              [self = shared_from_this()] { self->finish(); });
    }

private:
    void finish() {
        const auto self = shared_from_this();  // the watches that hold it end here
        exitWatch_.reset();
        // Reaping also ends what is left of the process group, so no worker keeps the pipes.
        const auto exit = process_->reap();
        // What the child printed last is still in the pipes; nothing more is read after this.
        for (auto& stream : streams_) {
            for (size_t drained = 0; stream.descriptor && drained < kMaximumDrainBytes;) {
                const size_t count = readOnce(stream);
                if (count == 0) {
                    break;
                }
                drained += count;
            }
            if (stream.descriptor) {
                close(stream);
            }
        }
        events_.exit(exit);
        gone_->set();
    }

    /// Reads one chunk; returns its size, 0 when there was nothing to read now or the stream
    /// has ended.
    size_t readOnce(Stream& stream) {
        const ssize_t count = ::read(stream.descriptor.get(), buffer_, sizeof buffer_);
        if (count > 0) {
            auto lines =
                stream.buffer.append(std::string_view(buffer_, static_cast<size_t>(count)));
            if (!lines) {
                // Nothing after a broken line can be trusted, and the child's next writes fail
                // rather than filling the pipe.
                stream.watch.reset();
                stream.descriptor.reset();
                stream.buffer = {};
            }
            report(stream.kind, lines);
            return lines ? static_cast<size_t>(count) : 0;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return 0;
        }
        close(stream);
        return 0;
    }

    void close(Stream& stream) {
        stream.watch.reset();
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

    const std::shared_ptr<DescriptorWatching> watching_;
    const std::shared_ptr<ChildProcess> process_;
    const BackendOutputEvents events_;
    const std::shared_ptr<BackendExitSignal> gone_;
    Stream streams_[2];
    std::unique_ptr<DescriptorWatching::Watch> exitWatch_;
    char buffer_[65536];
};

}  // namespace

void watch(std::shared_ptr<DescriptorWatching> watching, std::shared_ptr<ChildProcess> process,
           UniqueFd standardOutput, UniqueFd standardError, BackendOutputEvents events,
           std::shared_ptr<BackendExitSignal> gone) {
    // The child may outlive its supervisor, and its exit must still be collected.
    std::make_shared<Watcher>(std::move(watching), std::move(process), std::move(events),
                              std::move(gone))
        ->begin(std::move(standardOutput), std::move(standardError));
}

}  // namespace kelvra::BackendOutputWatcher
