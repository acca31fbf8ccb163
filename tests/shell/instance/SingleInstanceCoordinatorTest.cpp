// SPDX-License-Identifier: MIT
#include <csignal>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "core/Error.h"
#include "shell/instance/SingleInstanceCoordinator.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/SpawnedProcess.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using testing::modeOf;
namespace fs = std::filesystem;

constexpr auto kLimit = 10s;
const std::string kName = "com.morvane.kelvrahub.open-request.test";

/// A home of the test's own, with a private runtime folder in it.
struct PrivateHome {
    PrivateHome() {
        fs::create_directory(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
    }

    testing::TemporaryDirectory home;
    const fs::path runtime = home.path() / "runtime";
};

class SingleInstanceCoordinatorTest : public ::testing::Test, protected PrivateHome {
protected:
    /// Runs `work` on a thread of its own, as another launch would, while the main thread
    /// serves it.
    template <typename Work>
    auto fromAnotherLaunch(Work work) {
        auto done = std::async(std::launch::async, std::move(work));
        EXPECT_TRUE(mainThread->runUntil(
            [&] { return done.wait_for(0s) == std::future_status::ready; }, kLimit));
        return done.get();
    }

    auto post(
        const std::optional<std::string>& detail = std::nullopt,
        std::chrono::milliseconds timeout = DistributedNotificationCenter::kDefaultPostTimeout) {
        return fromAnotherLaunch([&] { return center->post(kName, detail, timeout); });
    }

    /// A connection to the primary's endpoint, as a poster of another build might make one.
    UniqueFd connectRaw() const {
        UniqueFd client(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        (runtime / kName).string().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address),
                  0);
        return client;
    }

    /// Sends `request` as it stands and waits for the answer.
    void sendRaw(const std::string& request) {
        const auto answer = fromAnotherLaunch([&] {
            const UniqueFd client = connectRaw();
            char reply[8];
            ::send(client.get(), request.data(), request.size(), MSG_NOSIGNAL);
            return ::recv(client.get(), reply, sizeof reply, 0);
        });
        EXPECT_EQ(answer, 3) << request;
    }

    std::shared_ptr<SingleInstanceCoordinator> createPrimary() {
        auto coordinator = SingleInstanceCoordinator::create(lockDirectory, kName, center);
        EXPECT_TRUE(coordinator) << Error(coordinator.error()).diagnosticDescription();
        EXPECT_TRUE(coordinator && (*coordinator)->isPrimary());
        return coordinator ? *coordinator : nullptr;
    }

    const fs::path lockDirectory = home.path() / "data" / "Morvane" / "Kelvra Hub";
    const std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::shared_ptr<DistributedNotificationCenter> center =
        std::make_shared<DistributedNotificationCenter>(runtime, mainThread, mainThread);
};

// In a socket folder whose path is too long for a socket address, as well.
TEST_F(SingleInstanceCoordinatorTest, AFirstLaunchTakesAPrivateLockThatItsEndFrees) {
    const fs::path deep = runtime / std::string(120, 'd');
    fs::create_directory(deep);
    fs::permissions(deep, fs::perms::owner_all);
    center = std::make_shared<DistributedNotificationCenter>(deep, mainThread, mainThread);
    auto coordinator = createPrimary();
    ASSERT_TRUE(coordinator);
    EXPECT_EQ(coordinator->lockFile(), lockDirectory / "kelvra-hub.lock");
    EXPECT_EQ(modeOf(lockDirectory / "kelvra-hub.lock"), 0600u);
    EXPECT_EQ(modeOf(lockDirectory), 0700u);
    EXPECT_EQ(modeOf(home.path() / "data" / "Morvane"), 0700u);
    EXPECT_EQ(fs::status(deep / kName).type(), fs::file_type::socket);
    int calls = 0;
    coordinator->installOpenHandler([&](auto) { ++calls; });
    ASSERT_TRUE(post());
    EXPECT_TRUE(mainThread->runUntil([&] { return calls == 1; }, kLimit));

    coordinator.reset();
    EXPECT_FALSE(fs::exists(deep / kName));
    const auto unheard = center->post(kName, {}, 1s);
    ASSERT_FALSE(unheard);
    EXPECT_EQ(unheard.error().kind(), NotificationCenterError::Kind::cannotPost);
    EXPECT_TRUE(createPrimary());
}

TEST_F(SingleInstanceCoordinatorTest, RequestsGiveOneCallEachWithTheirTokenWhenItCanTravel) {
    const auto primary = createPrimary();
    ASSERT_TRUE(primary);
    // Before the handler exists, requests become one call with the last token.
    ASSERT_TRUE(post("first"));
    ASSERT_TRUE(post("second"));
    ASSERT_TRUE(post());
    mainThread->runPending();
    std::vector<std::optional<std::string>> tokens;
    primary->installOpenHandler([&](auto token) { tokens.push_back(token); });
    EXPECT_EQ(tokens, (std::vector<std::optional<std::string>>{"second"}));

    const std::string longest(512, 't');
    // Tokens are opaque: spaces pass; a line break or an oversized one would break the framing.
    const std::optional<std::string> sent[] = {
        "kwin-1 2_TIME34", longest, longest + "t", "a\nb", "", std::nullopt};
    for (const auto& token : sent) {
        ASSERT_TRUE(post(token));
    }
    // A poster that does not hold to the rules gets its request taken, without the token.
    sendRaw(kName + " \n");
    sendRaw(kName + " " + longest + "t\n");
    ASSERT_TRUE(mainThread->runUntil([&] { return tokens.size() == 9; }, kLimit));
    EXPECT_EQ(tokens, (std::vector<std::optional<std::string>>{
                          "second", "kwin-1 2_TIME34", longest, std::nullopt, std::nullopt,
                          std::nullopt, std::nullopt, std::nullopt, std::nullopt}));
}

TEST_F(SingleInstanceCoordinatorTest, AnInstanceThatKnowsNoTokensStillTakesTheRequest) {
    // As instances were before tokens travelled: any line but the bare name is hung up on.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    (runtime / kName).string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 2), 0);
    std::vector<std::string> lines;
    std::thread observer([&] {
        while (lines.size() < 2) {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0) {
                return;
            }
            char buffer[600];
            const ssize_t count = ::recv(client, buffer, sizeof buffer, 0);
            lines.emplace_back(buffer, static_cast<size_t>(std::max<ssize_t>(count, 0)));
            if (lines.back() == kName + "\n") {
                ::send(client, "ok\n", 3, MSG_NOSIGNAL);
            }
            ::close(client);
        }
    });
    EXPECT_TRUE(center->post(kName, "token"));
    ::shutdown(listener, SHUT_RDWR);  // wakes the accept of a second request that never came
    observer.join();
    ::close(listener);
    EXPECT_EQ(lines, (std::vector<std::string>{kName + " token\n", kName + "\n"}));
}

TEST_F(SingleInstanceCoordinatorTest, UnsafeDirectoriesAreRefusedBeforeAnySocketExists) {
    using Change = std::function<void(const fs::path&)>;
    const auto modeTo = [](mode_t mode) -> Change {
        return [mode](const fs::path& folder) { ::chmod(folder.c_str(), mode); };
    };
    const Change giveAway = [](const fs::path& folder) {
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);  // nobody
    };
    const struct {
        std::string name;
        bool lockFolder;  ///< else the socket folder
        Change change;
        std::string error;
    } rows[] = {
        {"lock folder open to others", true, modeTo(0777), "SingleInstanceError"},
        {"lock folder of another user", true, giveAway, "SingleInstanceError"},
        {"socket folder readable by others", false, modeTo(0755), "NotificationCenterError"},
        {"socket folder of another user", false, giveAway, "NotificationCenterError"},
        {"socket folder missing", false, [](const fs::path& folder) { fs::remove(folder); },
         "NotificationCenterError"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.name.ends_with("another user") && ::geteuid() != 0) {
            std::printf("skipped \"%s\": changing a folder's owner needs root\n", row.name.c_str());
            continue;
        }
        testing::TemporaryDirectory place;
        const fs::path lock = place.path() / "lock";
        const fs::path sockets = place.path() / "runtime";
        for (const auto& folder : {lock, sockets}) {
            fs::create_directory(folder);
            ::chmod(folder.c_str(), 0700);
        }
        row.change(row.lockFolder ? lock : sockets);

        const auto coordinator = SingleInstanceCoordinator::create(
            lock, kName,
            std::make_shared<DistributedNotificationCenter>(sockets, mainThread, mainThread));
        ASSERT_FALSE(coordinator);
        const Error error(coordinator.error());
        EXPECT_TRUE(error.diagnosticDescription().starts_with(row.error + ".unsafeDirectory"))
            << error.diagnosticDescription();
        EXPECT_TRUE(error.description().starts_with("Kelvra Hub will not")) << error.description();
        EXPECT_FALSE(fs::exists(sockets / kName));
    }
}

TEST_F(SingleInstanceCoordinatorTest, APosterThatStallsHoldsNobodyUpAndIsHungUpOnInTime) {
    const auto primary = createPrimary();
    ASSERT_TRUE(primary);
    std::vector<std::optional<std::string>> tokens;
    primary->installOpenHandler([&](auto token) { tokens.push_back(token); });
    const UniqueFd stalled = connectRaw();
    ASSERT_EQ(::send(stalled.get(), kName.data(), kName.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(kName.size()));
    // Well within the time the stalled one is given.
    ASSERT_TRUE(post("next", 500ms));
    mainThread->runPending();
    EXPECT_EQ(tokens, (std::vector<std::optional<std::string>>{"next"}));

    mainThread->advance(1s);
    char answer[8];
    EXPECT_EQ(::recv(stalled.get(), answer, sizeof answer, 0), 0) << "still connected";
    EXPECT_EQ(tokens.size(), 1u);
}

/// Real launches of the helper, which uses the default directories of its environment.
class SingleInstanceProcessTest : public ::testing::TestWithParam<bool>, protected PrivateHome {
protected:
    std::map<std::string, std::string> environment() const {
        std::map<std::string, std::string> values{
            {"HOME", home.path().string()},
            {"XDG_DATA_HOME", (home.path() / "data").string()},
            {"PATH", "/usr/bin:/bin"}};
        if (GetParam()) {
            values["XDG_RUNTIME_DIR"] = runtime.string();
        }
        return values;
    }

    fs::path socketPath() const {
        const fs::path directory =
            GetParam() ? runtime : home.path() / "data" / "Morvane" / "Kelvra Hub";
        return directory / ("com.morvane.kelvrahub.open-request." + std::to_string(::getuid()));
    }

    std::unique_ptr<testing::SpawnedProcess> launch() const {
        return std::make_unique<testing::SpawnedProcess>(KELVRA_TEST_SINGLE_INSTANCE_HELPER,
                                                         std::vector<std::string>{}, environment());
    }

    /// A second launch: secondary, posts, ends.
    void launchSecondary() const {
        const auto secondary = launch();
        EXPECT_EQ(secondary->readLine(kLimit), "secondary");
        EXPECT_EQ(secondary->readLine(kLimit), "posted");
        EXPECT_EQ(secondary->wait(kLimit), 0);
    }
};

// A primary killed outright leaves its socket behind; the next launch takes over from it.
TEST_P(SingleInstanceProcessTest, LaunchesContendAndTheSecondHandsItsRequestOver) {
    const auto crashed = launch();
    ASSERT_EQ(crashed->readLine(kLimit), "primary");
    crashed->kill(SIGKILL);
    ASSERT_EQ(crashed->wait(kLimit), 128 + SIGKILL);
    ASSERT_EQ(fs::status(socketPath()).type(), fs::file_type::socket);

    const auto first = launch();
    ASSERT_EQ(first->readLine(kLimit), "primary");
    for (int request = 0; request < 2; ++request) {
        launchSecondary();
        EXPECT_EQ(first->readLine(kLimit), "open-request");
    }
    first->closeInput();
    EXPECT_EQ(first->wait(kLimit), 0);
    EXPECT_FALSE(fs::exists(socketPath()));
}

INSTANTIATE_TEST_SUITE_P(SocketFolders, SingleInstanceProcessTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& parameter) {
                             return parameter.param ? "RuntimeDirectory"
                                                    : "SupportDirectoryFallback";
                         });

}  // namespace
}  // namespace kelvra
