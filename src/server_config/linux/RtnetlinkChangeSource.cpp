// SPDX-License-Identifier: MIT
#include <cerrno>
#include <cstdint>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <vector>

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
    ~RtnetlinkChangeSource() override { stop(); }

    bool start(std::function<void()> changed) override {
        std::lock_guard lock(mutex_);
        if (reader_.joinable()) {
            return true;
        }
        // Bound to the caller's network namespace from here on, whichever thread reads it.
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
        UniqueFd wakeUp(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wakeUp) {
            return false;
        }
        try {
            reader_ = std::thread(
                [socket = std::move(socket), wakeUp = wakeUp.get(), changed = std::move(changed)] {
                    readChanges(socket.get(), wakeUp, changed);
                });
        } catch (const std::system_error&) {
            return false;
        }
        wakeUp_ = std::move(wakeUp);
        pthread_setname_np(reader_.native_handle(), "rtnetlink");
        return true;
    }

    void stop() override {
        std::lock_guard lock(mutex_);
        if (!reader_.joinable()) {
            return;
        }
        const uint64_t one = 1;
        // An eventfd counter cannot overflow from one write; the reader sees it however late.
        [[maybe_unused]] const auto written = ::write(wakeUp_.get(), &one, sizeof one);
        reader_.join();
        wakeUp_.reset();
    }

private:
    static void readChanges(int socket, int wakeUp, const std::function<void()>& changed) {
        std::vector<uint8_t> buffer(64 * 1024);
        while (true) {
            pollfd descriptors[2] = {{socket, POLLIN, 0}, {wakeUp, POLLIN, 0}};
            if (::poll(descriptors, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (descriptors[1].revents != 0) {
                return;
            }
            if (descriptors[0].revents == 0) {
                continue;
            }
            bool changeSeen = false;
            while (true) {
                sockaddr_nl sender{};
                socklen_t senderLength = sizeof sender;
                const ssize_t length =
                    ::recvfrom(socket, buffer.data(), buffer.size(), MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&sender), &senderLength);
                if (length < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    // The kernel dropped messages for want of buffer space: something changed.
                    changeSeen = changeSeen || errno == ENOBUFS;
                    if (errno == EAGAIN || errno == ENOBUFS) {
                        break;
                    }
                    return;
                }
                if (sender.nl_pid != 0) {
                    continue;  // only the kernel speaks for the network state
                }
                if (static_cast<size_t>(length) > buffer.size()) {
                    changeSeen = true;  // truncated; assume the worst
                    continue;
                }
                changeSeen =
                    changeSeen || announcesChange(buffer.data(), static_cast<size_t>(length));
            }
            if (changeSeen) {
                changed();
            }
        }
    }

    std::mutex mutex_;
    UniqueFd wakeUp_;
    std::thread reader_;
};

}  // namespace

std::shared_ptr<NetworkChangeSource> makeSystemNetworkChangeSource() {
    return std::make_shared<RtnetlinkChangeSource>();
}

}  // namespace kelvra
