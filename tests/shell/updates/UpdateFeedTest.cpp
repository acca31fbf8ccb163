// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <vector>

#include "shell/updates/AppUpdater.h"
#include "shell/updates/FeedUpdaterController.h"
#include "shell/updates/UpdateFeed.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/SpawnedProcess.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kLimit = 10s;

TEST(UpdateFeedTest, VersionsCompareComponentByComponentAsNumbers) {
    using Order = std::optional<std::strong_ordering>;
    const struct {
        std::string left;
        std::string right;
        Order order;
    } rows[] = {
        {"1.10", "1.9", std::strong_ordering::greater},
        {"1.2", "1.2.0", std::strong_ordering::equal},
        {"2", "10", std::strong_ordering::less},
        {"1.x", "1", std::nullopt},
        {"1.2", "-1", std::nullopt},
        {" 1", "1", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.left + " <=> " + row.right);
        EXPECT_EQ(UpdateFeed::compareVersions(row.left, row.right), row.order);
    }
}

// The pages a feed names are opened in the browser: a secure feed may not name a page that is
// not, and no address may carry markup.
TEST(UpdateFeedTest, AFeedNamesOnlyWebPagesAsSecureAsItself) {
    const std::tuple<std::string, std::string, std::string, bool> rows[] = {
        {"https://u.example/f", "https://u.example/d", "https://u.example/n", true},
        {"https://u.example/f", "http://u.example/d", "https://u.example/n", false},
        {"https://u.example/f", "https://u.example/d", "http://u.example/n", false},
        {"http://u.example/f", "http://u.example/d", "http://u.example/<b>n</b>", false},
    };
    for (const auto& [feed, download, notes, accepted] : rows) {
        const auto body = R"({"version":"9","build":"9","downloadURL":")" + download +
                          R"(","releaseNotesURL":")" + notes + "\"}";
        EXPECT_EQ(UpdateFeed::parse(body, feed).has_value(), accepted) << body << " from " << feed;
    }
}

TEST(UpdateFeedTest, TheEnvironmentOverridesTheBuiltInFeedAddress) {
    const InfoDictionary dictionary{{"CFBundleShortVersionString", std::string("1.2.3")},
                                    {"CFBundleVersion", std::string("7")},
                                    {"SUFeedURL", std::string("https://example.com/feed.json")}};
    const struct {
        Environment environment;
        std::string feedURL, proxyExceptions;
    } rows[] = {
        {{}, "https://example.com/feed.json", "localhost,127.0.0.1,::1"},
        {{{"KELVRA_HUB_UPDATE_FEED_URL", ""}, {"no_proxy", ".corp"}},
         "https://example.com/feed.json",
         "localhost,127.0.0.1,::1,.corp"},
        {{{"KELVRA_HUB_UPDATE_FEED_URL", "http://127.0.0.1:8/f"}, {"no_proxy", "*"}},
         "http://127.0.0.1:8/f",
         "*"},
    };
    for (const auto& row : rows) {
        const auto configuration =
            UpdateFeed::CheckConfiguration::standard(dictionary, row.environment);
        EXPECT_EQ(configuration.feedURL, row.feedURL);
        EXPECT_EQ(configuration.proxyExceptions, row.proxyExceptions);
        EXPECT_EQ(configuration.installedVersion, "1.2.3");
        EXPECT_EQ(configuration.installedBuild, "7");
        EXPECT_TRUE(configuration.systemVersion &&
                    UpdateFeed::compareVersions(*configuration.systemVersion, "2"));
    }
    EXPECT_TRUE(std::any_cast<std::string>(BundleInfo::dictionary().at("SUFeedURL"))
                    .starts_with("https://"));
}

/// The feed server of fixtures/update-feed-server.js, one per test suite.
class FeedServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new testing::SpawnedProcess(
            KELVRA_TEST_NODE,
            {(fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/shell/fixtures/update-feed-server.js")
                 .string()},
            {{"PATH", "/usr/bin:/bin"}});
        const auto port = server->readLine(kLimit);
        ASSERT_TRUE(port) << "the feed server did not start";
        base = "http://127.0.0.1:" + *port;
    }

    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    static UpdateFeed::CheckConfiguration configuration(const std::string& path) {
        UpdateFeed::CheckConfiguration result;
        result.feedURL = path.starts_with("/") ? base + path : path;
        result.installedVersion = "1.2.3";
        result.installedBuild = "7";
        result.systemVersion = "2.36";
        result.timeout = 5s;
        return result;
    }

    static inline testing::SpawnedProcess* server = nullptr;
    static inline std::string base;
};

TEST_F(FeedServerTest, EachFeedEndsWithItsOfferOrItsOwnError) {
    using Kind = UpdaterError::Kind;
    const std::pair<std::string, std::optional<Kind>> rows[] = {
        {"/newer", std::nullopt},
        {"/newer-build", std::nullopt},
        {"/redirect", std::nullopt},
        {"/same", Kind::noUpdateFound},
        {"/needs-newer-system", Kind::noUpdateFound},
        {"/not-json", Kind::malformedFeed},
        {"/huge", Kind::malformedFeed},
        {"/missing-version", Kind::missingFeedField},
        {"/bad-version", Kind::invalidFeedField},
        {"/not-found", Kind::feedUnavailable},
        {"/never-answers", Kind::feedTimeout},
        {"http://127.0.0.1:1/feed.json", Kind::networkFailure},
        {"file:///etc/passwd", Kind::invalidFeedAddress},
    };
    for (const auto& [path, error] : rows) {
        SCOPED_TRACE(path);
        auto checked = configuration(path);
        if (error == Kind::feedTimeout) {
            checked.timeout = 300ms;
        }
        const auto outcome = UpdateFeed::check(checked);
        ASSERT_EQ(outcome.has_value(), !error);
        if (error) {
            EXPECT_EQ(outcome.error().kind(), *error) << outcome.error().diagnosticDescription();
        }
    }
    EXPECT_EQ(server->readLine(kLimit), "waiting /never-answers");
    const auto offered = UpdateFeed::check(configuration("/newer"));
    ASSERT_TRUE(offered);
    EXPECT_EQ(*offered, (UpdateItem{"9.0.0", "900", "2.0", "https://example.com/notes",
                                    "https://example.com/download"}));
}

class RecordingUserDriver final : public UpdateUserDriver {
public:
    void showUpdateFound(const UpdateItem& item) override {
        shown.push_back("found " + item.version);
    }
    void showUpToDate(const UpdaterError& error) override {
        shown.push_back("up to date " + std::to_string(error.code()));
    }
    void showUpdateError(const UpdaterError& error) override {
        shown.push_back("error " + std::to_string(error.code()));
    }
    std::vector<std::string> shown;
};

/// Counts finished cycles and passes every callback on to the updater.
class CountingDelegate final : public SparkleUpdaterDelegate {
public:
    void didFindValidUpdate(const UpdateItem& item) override {
        if (const auto updater = target.lock()) {
            updater->didFindValidUpdate(item);
        }
    }
    void didFinishUpdateCycle(UpdateCheck check,
                              const std::optional<UpdaterError>& error) override {
        ++finished;
        if (const auto updater = target.lock()) {
            updater->didFinishUpdateCycle(check, error);
        }
    }
    std::weak_ptr<SparkleUpdaterDelegate> target;
    int finished = 0;
};

// The startup probe shows only an update that exists; a check asked for after it shows its
// outcome whatever it is.
TEST_F(FeedServerTest, TheStartupProbeShowsOnlyAnUpdateThatExists) {
    const struct {
        std::string path;
        std::vector<std::string> shown;
        bool logsFailure;
    } rows[] = {
        {"/newer", {"found 9.0.0", "found 9.0.0"}, false},
        {"/same", {"up to date 1001"}, false},
        {"/not-found", {"error 1002"}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        const auto mainThread = std::make_shared<ManualMainThreadExecutor>();
        const auto userDriver = std::make_shared<RecordingUserDriver>();
        const auto delegate = std::make_shared<CountingDelegate>();
        std::vector<std::string> log;
        const auto updater = AppUpdater::create(
            nullptr, [&](const std::string& line) { log.push_back(line); }, mainThread,
            [&](std::weak_ptr<SparkleUpdaterDelegate> target) {
                delegate->target = std::move(target);
                return FeedUpdaterController::create(configuration(row.path), mainThread,
                                                     userDriver, delegate);
            });
        updater->checkForUpdatesOnStartup();
        // A found update is checked again at once; that cycle may end in the same batch.
        ASSERT_TRUE(mainThread->runUntil([&] { return delegate->finished >= 1; }, kLimit));
        mainThread->runPending();
        // Checks run in order, so once this one is shown, an offer of the probe would be too.
        updater->checkForUpdates(std::any());
        const int cycles = 1 + static_cast<int>(row.shown.size());
        ASSERT_TRUE(mainThread->runUntil([&] { return delegate->finished == cycles; }, kLimit));
        EXPECT_EQ(userDriver->shown, row.shown);
        EXPECT_EQ(log.size(), row.logsFailure ? 2u : 1u);
    }
}

TEST_F(FeedServerTest, DroppingTheControllerEndsACheckInFlightWithoutReporting) {
    const auto mainThread = std::make_shared<ManualMainThreadExecutor>();
    const auto userDriver = std::make_shared<RecordingUserDriver>();
    auto slow = configuration("/never-answers");
    slow.timeout = 60s;
    auto controller = FeedUpdaterController::create(slow, mainThread, userDriver, {});
    controller->checkForUpdates(std::any());
    ASSERT_EQ(server->readLine(kLimit), "waiting /never-answers");
    const auto started = std::chrono::steady_clock::now();
    controller.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    mainThread->runPending();
    EXPECT_TRUE(userDriver->shown.empty());
}

}  // namespace
}  // namespace kelvra
