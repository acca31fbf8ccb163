// SPDX-License-Identifier: MIT
#include "shell/instance/DistributedNotificationCenter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "core/Error.h"
#include "core/XdgPaths.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;

/// Group and other bits: the directory must be the owner's alone.
constexpr mode_t kForbiddenModeBits = 0077;
/// A request is the name, optionally a space and a detail, and a line feed; anything longer is
/// not ours.
constexpr size_t kMaximumNameBytes = 200;
constexpr size_t kMaximumDetailBytes = 512;
constexpr size_t kMaximumRequestBytes = kMaximumNameBytes + 1 + kMaximumDetailBytes;
constexpr std::string_view kAnswer = "ok\n";
/// How long a connected client has to send its request.
constexpr std::chrono::milliseconds kRequestTimeout{1000};
/// Requests read at once; each holds a descriptor and at most one request's bytes.
constexpr size_t kMaximumClients = 8;
/// The pause after an accept failure that poll would report again at once (no descriptors).
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

bool isValidName(const std::string& name) {
    return !name.empty() && name.size() <= kMaximumNameBytes && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\n\0", 3)) == std::string::npos;
}

bool isValidDetail(const std::string& detail) {
    return !detail.empty() && detail.size() <= kMaximumDetailBytes &&
           detail.find_first_of(std::string_view("\n\0", 2)) == std::string::npos;
}

/// The socket address of `name` in the open `directory`: its plain path when that fits, else a
/// path through the directory's descriptor, which is short whatever the directory's path.
std::optional<sockaddr_un> socketAddress(const fs::path& directoryPath, int directory,
                                         const std::string& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = (directoryPath / name).string();
    if (path.size() >= sizeof address.sun_path) {
        path = "/proc/self/fd/" + std::to_string(directory) + "/" + name;
        if (path.size() >= sizeof address.sun_path) {
            return std::nullopt;
        }
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

/// Where `name`'s socket is: its checked directory, kept open, and the address to use.
struct Endpoint {
    UniqueFd directory;
    fs::path path;
    sockaddr_un address;
};

/// Both ends check the name and the directory the same way before touching a socket;
/// `failure` makes the error of their own side.
std::expected<Endpoint, NotificationCenterError> locateEndpoint(
    const fs::path& directoryPath, const std::string& name,
    NotificationCenterError (*failure)(fs::path, int)) {
    if (!isValidName(name)) {
        return std::unexpected(NotificationCenterError::invalidName(name));
    }
    auto directory = openPrivateDirectory(directoryPath, kForbiddenModeBits);
    if (!directory) {
        return std::unexpected(
            NotificationCenterError::unsafeDirectory(directoryPath, directory.error()));
    }
    const fs::path path = directoryPath / name;
    const auto address = socketAddress(directoryPath, directory->get(), name);
    if (!address) {
        return std::unexpected(failure(path, ENAMETOOLONG));
    }
    return Endpoint{std::move(*directory), path, *address};
}

bool peerIsSameUser(int socket) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == ::geteuid();
}

/// Listens in the main thread's loop. A request is read as its bytes come, so a poster that
/// stalls holds nobody up; it is hung up on at its deadline. At most `kMaximumClients` requests
/// are read at once; later posters wait in the listening backlog.
class SocketObservation final : public DistributedNotificationCenter::Observation {
public:
    SocketObservation(UniqueFd directory, std::string name, UniqueFd listener, ino_t endpoint,
                      std::shared_ptr<MainThreadExecutor> mainThread,
                      std::shared_ptr<DescriptorWatching> watching,
                      DistributedNotificationCenter::Observer observer)
        : directory_(std::move(directory)),
          name_(std::move(name)),
          listener_(std::move(listener)),
          endpoint_(endpoint),
          mainThread_(std::move(mainThread)),
          watching_(std::move(watching)),
          observer_(std::move(observer)) {
        listen();
    }

    ~SocketObservation() override {
        acceptRetry_.cancel();
        listenerWatch_.reset();
        clients_.clear();
        struct stat status {};
        if (::fstatat(directory_.get(), name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISSOCK(status.st_mode) && status.st_ino == endpoint_) {
            ::unlinkat(directory_.get(), name_.c_str(), 0);
        }
    }

private:
    struct Client {
        ~Client() { deadline.cancel(); }

        UniqueFd socket;
        std::string received;
        /// Ends before `socket` closes.
        std::unique_ptr<DescriptorWatching::Watch> watch;
        CancellableWork deadline;
    };

    void listen() {
        if (!listenerWatch_ && !acceptPaused_ && clients_.size() < kMaximumClients) {
            listenerWatch_ = watching_->watchReadable(listener_.get(), [this] { accept(); });
        }
    }

    void accept() {
        while (clients_.size() < kMaximumClients) {
            UniqueFd socket(
                ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!socket) {
                if (errno == EINTR || errno == ECONNABORTED) {
                    continue;
                }
                if (errno != EAGAIN) {
                    // Out of descriptors or memory: the listener would be reported again at once.
                    listenerWatch_.reset();
                    acceptPaused_ = true;
                    acceptRetry_ = mainThread_->postDelayed(kAcceptRetryDelay, [this] {
                        acceptPaused_ = false;
                        listen();
                    });
                }
                return;
            }
            if (peerIsSameUser(socket.get())) {
                add(std::move(socket));
            }
        }
        listenerWatch_.reset();  // full: the rest wait in the backlog until a request ends
    }

    void add(UniqueFd socket) {
        const uint64_t id = nextClient_++;
        auto& client = clients_[id];
        client.socket = std::move(socket);
        client.watch = watching_->watchReadable(client.socket.get(), [this, id] { read(id); });
        client.deadline = mainThread_->postDelayed(kRequestTimeout, [this, id] { drop(id); });
    }

    void drop(uint64_t id) {
        clients_.erase(id);
        listen();
    }

    /// Takes what the client has sent; a complete request is served, anything else that ends
    /// the exchange drops the client.
    void read(uint64_t id) {
        auto& client = clients_.at(id);
        char buffer[256];
        const ssize_t count = ::recv(client.socket.get(), buffer, sizeof buffer, 0);
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        if (count <= 0) {
            drop(id);
            return;
        }
        client.received.append(buffer, static_cast<size_t>(count));
        const auto end = client.received.find('\n');
        if (end == std::string::npos && client.received.size() <= kMaximumRequestBytes) {
            return;
        }
        if (end != std::string::npos && end + 1 == client.received.size()) {
            serve(client.socket.get(), client.received.substr(0, end));
        }
        drop(id);
    }

    void serve(int client, const std::string& request) {
        std::optional<std::string> detail;
        if (request.starts_with(name_ + ' ')) {
            // A detail the poster could not have sent is none, as on the posting side.
            if (auto given = request.substr(name_.size() + 1); isValidDetail(given)) {
                detail = std::move(given);
            }
        } else if (request != name_) {
            return;
        }
        // Queued rather than called, so the observer never runs inside this exchange.
        mainThread_->post([observer = observer_, detail = std::move(detail)] { observer(detail); });
        // The poster may have given up already; it then learns nothing it needs.
        ::send(client, kAnswer.data(), kAnswer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    const UniqueFd directory_;
    const std::string name_;
    const UniqueFd listener_;
    const ino_t endpoint_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::shared_ptr<DescriptorWatching> watching_;
    const DistributedNotificationCenter::Observer observer_;
    std::map<uint64_t, Client> clients_;
    uint64_t nextClient_ = 0;
    std::unique_ptr<DescriptorWatching::Watch> listenerWatch_;
    bool acceptPaused_ = false;
    CancellableWork acceptRetry_;
};

}  // namespace

NotificationCenterError NotificationCenterError::unsafeDirectory(fs::path directory,
                                                                 DirectoryProblem problem) {
    NotificationCenterError error(Kind::unsafeDirectory, std::move(directory));
    error.problem_ = problem;
    return error;
}

NotificationCenterError NotificationCenterError::invalidName(std::string name) {
    return NotificationCenterError(Kind::invalidName, std::move(name), EINVAL);
}

NotificationCenterError NotificationCenterError::cannotObserve(fs::path endpoint, int errorNumber) {
    return NotificationCenterError(Kind::cannotObserve, std::move(endpoint), errorNumber);
}

NotificationCenterError NotificationCenterError::cannotPost(fs::path endpoint, int errorNumber) {
    return NotificationCenterError(Kind::cannotPost, std::move(endpoint), errorNumber);
}

NotificationCenterError NotificationCenterError::noAnswer(fs::path endpoint) {
    return NotificationCenterError(Kind::noAnswer, std::move(endpoint));
}

std::string NotificationCenterError::description() const {
    const std::string path = path_.string();
    switch (kind_) {
        case Kind::unsafeDirectory:
            return "Kelvra Hub will not use " + path +
                   " to talk to its other running instance because " + problem_->explanation() +
                   ". The folder must belong to you and be closed to other users (permissions "
                   "0700).";
        case Kind::invalidName:
            return "Kelvra Hub cannot use \"" + path + "\" as a notification name.";
        case Kind::cannotObserve:
            return "Kelvra Hub could not listen for requests from its other instances at " + path +
                   ": " + errorText(errorNumber_) + ".";
        case Kind::cannotPost:
            return "Kelvra Hub could not reach its running instance at " + path + ": " +
                   errorText(errorNumber_) + ".";
        case Kind::noAnswer:
            return "The running Kelvra Hub did not answer at " + path + ".";
    }
    return {};
}

std::string NotificationCenterError::diagnosticDescription() const {
    const std::string path = quoted(path_.string());
    switch (kind_) {
        case Kind::unsafeDirectory:
            return "NotificationCenterError.unsafeDirectory(" + path + ", " +
                   problem_->diagnosticDescription() + ")";
        case Kind::invalidName:
            return "NotificationCenterError.invalidName(" + path + ")";
        case Kind::cannotObserve:
            return "NotificationCenterError.cannotObserve(" + path + ", errno " +
                   std::to_string(errorNumber_) + ": " + errorText(errorNumber_) + ")";
        case Kind::cannotPost:
            return "NotificationCenterError.cannotPost(" + path + ", errno " +
                   std::to_string(errorNumber_) + ": " + errorText(errorNumber_) + ")";
        case Kind::noAnswer:
            return "NotificationCenterError.noAnswer(" + path + ")";
    }
    return {};
}

fs::path DistributedNotificationCenter::defaultDirectory(const Environment& environment) {
    return XdgPaths::runtimeDirectory(environment)
        .value_or(XdgPaths::applicationDirectory(XdgPaths::dataHome(environment)));
}

DistributedNotificationCenter::DistributedNotificationCenter(
    fs::path directory, std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<DescriptorWatching> mainThreadWatching)
    : directory_(std::move(directory)),
      mainThread_(std::move(mainThread)),
      mainThreadWatching_(std::move(mainThreadWatching)) {}

std::expected<void, NotificationCenterError> DistributedNotificationCenter::verifyDirectory()
    const {
    if (auto directory = openPrivateDirectory(directory_, kForbiddenModeBits); !directory) {
        return std::unexpected(
            NotificationCenterError::unsafeDirectory(directory_, directory.error()));
    }
    return {};
}

std::expected<std::unique_ptr<DistributedNotificationCenter::Observation>, NotificationCenterError>
DistributedNotificationCenter::addObserver(const std::string& name, Observer observer) {
    auto located = locateEndpoint(directory_, name, NotificationCenterError::cannotObserve);
    if (!located) {
        return std::unexpected(located.error());
    }
    auto& directory = located->directory;
    const fs::path& endpoint = located->path;
    const sockaddr_un* address = &located->address;
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener) {
        return std::unexpected(NotificationCenterError::cannotObserve(endpoint, errno));
    }
    // A socket file outlives a process that crashed. Only the caller can observe this name, so
    // whatever is there is stale; a directory or other non-socket in the way makes bind fail.
    struct stat existing {};
    if (::fstatat(directory.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISSOCK(existing.st_mode)) {
        ::unlinkat(directory.get(), name.c_str(), 0);
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(address), sizeof *address) != 0 ||
        ::listen(listener.get(), SOMAXCONN) != 0) {
        return std::unexpected(NotificationCenterError::cannotObserve(endpoint, errno));
    }
    struct stat bound {};
    if (::fstatat(directory.get(), name.c_str(), &bound, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::unexpected(NotificationCenterError::cannotObserve(endpoint, errno));
    }
    return std::make_unique<SocketObservation>(std::move(directory), name, std::move(listener),
                                               bound.st_ino, mainThread_, mainThreadWatching_,
                                               std::move(observer));
}

std::expected<void, NotificationCenterError> DistributedNotificationCenter::post(
    const std::string& name, const std::optional<std::string>& detail,
    std::chrono::milliseconds timeout) const {
    const auto located = locateEndpoint(directory_, name, NotificationCenterError::cannotPost);
    if (!located) {
        return std::unexpected(located.error());
    }
    const fs::path& endpoint = located->path;
    const sockaddr_un* address = &located->address;
    enum class Reply { answered, closed, other };
    const auto exchange =
        [&](const std::string& request) -> std::expected<Reply, NotificationCenterError> {
        UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket) {
            return std::unexpected(NotificationCenterError::cannotPost(endpoint, errno));
        }
        // Bounds a connect to a full backlog as well as the send and the wait for the answer.
        timeval limit{static_cast<time_t>(timeout.count() / 1000),
                      static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
        ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(address), sizeof *address) !=
            0) {
            return std::unexpected(NotificationCenterError::cannotPost(endpoint, errno));
        }
        if (!peerIsSameUser(socket.get())) {
            return std::unexpected(NotificationCenterError::cannotPost(endpoint, EPERM));
        }
        if (::send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            return std::unexpected(NotificationCenterError::cannotPost(endpoint, errno));
        }
        std::string answer;
        char buffer[8];
        while (answer.size() < kAnswer.size()) {
            const ssize_t count = ::recv(socket.get(), buffer, sizeof buffer, 0);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count == 0 && answer.empty()) {
                return Reply::closed;
            }
            if (count <= 0) {
                break;
            }
            answer.append(buffer, static_cast<size_t>(count));
        }
        return answer == kAnswer ? Reply::answered : Reply::other;
    };
    const bool withDetail = detail && isValidDetail(*detail);
    auto reply = exchange(name + (withDetail ? " " + *detail : std::string()) + "\n");
    // An observer from before details travelled hangs up on one: it still takes the bare name.
    if (reply == Reply::closed && withDetail) {
        reply = exchange(name + "\n");
    }
    if (!reply) {
        return std::unexpected(reply.error());
    }
    if (*reply != Reply::answered) {
        return std::unexpected(NotificationCenterError::noAnswer(endpoint));
    }
    return {};
}

}  // namespace kelvra
