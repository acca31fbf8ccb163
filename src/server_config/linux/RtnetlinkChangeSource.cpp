// SPDX-License-Identifier: MIT
#include <cerrno>
#include <cstdint>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <vector>

#include "core/DescriptorWatching.h"
#include "core/UniqueFd.h"
#include "server_config/NetworkChangeSource.h"

namespace kelvra {
namespace {

/// Whether a link message only carries a wireless-extensions event (scan results and the
/// like), which Wi-Fi drivers send often without the interface changing.
bool isWirelessEvent(const nlmsghdr* message) {
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return false;
    }
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
    auto remaining = static_cast<int>(IFLA_PAYLOAD(message));
    for (const rtattr* attribute = IFLA_RTA(info); RTA_OK(attribute, remaining);
         attribute = RTA_NEXT(attribute, remaining)) {
        if (attribute->rta_type == IFLA_WIRELESS) {
            return true;
        }
    }
    return false;
}

/// Whether a batch of datagrams tells of a change worth re-reading the services for.
bool announcesChange(const uint8_t* bytes, size_t length) {
    auto remaining = static_cast<unsigned int>(length);
    for (auto* message = reinterpret_cast<const nlmsghdr*>(bytes); NLMSG_OK(message, remaining);
         message = NLMSG_NEXT(message, remaining)) {
        switch (message->nlmsg_type) {
            case RTM_NEWADDR:
            case RTM_DELADDR:
            case RTM_DELLINK:
                return true;
            case RTM_NEWLINK:
                if (!isWirelessEvent(message)) {
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return false;
}

class RtnetlinkChangeSource final : public NetworkChangeSource {
public:
    explicit RtnetlinkChangeSource(std::shared_ptr<DescriptorWatching> watcher)
        : watcher_(std::move(watcher)), buffer_(64 * 1024) {}

    ~RtnetlinkChangeSource() override { stop(); }

    bool start(std::function<void()> changed) override {
        if (watch_) {
            return true;
        }
        // Bound to the caller's network namespace from here on.
        UniqueFd socket(
            ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
        if (!socket) {
            return false;
        }
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
        if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0) {
            return false;
        }
        socket_ = std::move(socket);
        changed_ = std::move(changed);
        // The watch ends in `stop`, before this object can go away.
        watch_ = watcher_->watchReadable(socket_.get(), [this] { readChanges(); });
        return true;
    }

    void stop() override {
        watch_.reset();
        socket_.reset();
        changed_ = nullptr;
    }

private:
    void readChanges() {
        bool changeSeen = false;
        while (true) {
            sockaddr_nl sender{};
            socklen_t senderLength = sizeof sender;
            const ssize_t length =
                ::recvfrom(socket_.get(), buffer_.data(), buffer_.size(), MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&sender), &senderLength);
            if (length < 0) {
                if (errno == EINTR) {
                    continue;
                }
                // The kernel dropped messages for want of buffer space: something changed.
                changeSeen = changeSeen || errno == ENOBUFS;
                if (errno == ENOBUFS) {
                    continue;
                }
                break;
            }
            if (sender.nl_pid != 0) {
                continue;  // only the kernel speaks for the network state
            }
            if (static_cast<size_t>(length) > buffer_.size()) {
                changeSeen = true;  // truncated; assume the worst
                continue;
            }
            changeSeen = changeSeen || announcesChange(buffer_.data(), static_cast<size_t>(length));
        }
        if (changeSeen) {
            changed_();
        }
    }

    const std::shared_ptr<DescriptorWatching> watcher_;
    std::vector<uint8_t> buffer_;
    UniqueFd socket_;
    std::function<void()> changed_;
    std::unique_ptr<DescriptorWatching::Watch> watch_;
};

}  // namespace

std::shared_ptr<NetworkChangeSource> makeSystemNetworkChangeSource(
    std::shared_ptr<DescriptorWatching> watcher) {
    return std::make_shared<RtnetlinkChangeSource>(std::move(watcher));
}

}  // namespace kelvra
