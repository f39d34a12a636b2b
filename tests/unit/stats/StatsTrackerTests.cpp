#include "support/Recorders.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/platform/UserDefaults.hpp>
#include <somnara/stats/LastActiveDateTracker.hpp>
#include <somnara/stats/StatsTracker.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

using namespace somnara;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using SoundTracks = PlaybackStateSource::SoundTracks;
using SelectionChange = PlaybackStateSource::SelectionChange;

/// The player and its selection as the tests script them. Reads of the present values give way to
/// other work first, as calls into the real objects do.
class ScriptedPlayer final : public PlaybackStateSource {
public:
    explicit ScriptedPlayer(SoundTracks selected) : selected_(selected) {
        selection_ = AsyncCurrentValueSubject<SelectionChange>::make({std::nullopt, selected});
    }

    void setState(NoisePlayerState state) {
        state_ = state;
        stateSubject_->send(state);
    }
    void select(SoundTracks selected) {
        SelectionChange change{selected_, selected};
        selected_ = std::move(selected);
        selection_->send(std::move(change));
    }

    AsyncStream<NoisePlayerState> subscribeToState() override { return stateSubject_->subscribe(); }
    asio::awaitable<NoisePlayerState> state() override {
        co_await giveWay();
        co_return state_;
    }
    AsyncStream<SelectionChange> subscribeToSelectedSoundTracks() override { return selection_->subscribe(); }
    asio::awaitable<SoundTracks> selectedSoundTracks() override {
        co_await giveWay();
        co_return selected_;
    }

private:
    static asio::awaitable<void> giveWay() {
        auto executor = co_await asio::this_coro::executor;
        co_await asio::post(executor, asio::use_awaitable);
    }

    NoisePlayerState state_ = NoisePlayerState::stopped();
    SoundTracks selected_;
    std::shared_ptr<AsyncCurrentValueSubject<NoisePlayerState>> stateSubject_ =
        AsyncCurrentValueSubject<NoisePlayerState>::make(NoisePlayerState::stopped());
    std::shared_ptr<AsyncCurrentValueSubject<SelectionChange>> selection_;
};

class MemoryStatsStore final : public StatsStore {
public:
    std::optional<std::vector<PlayEvent>> stored;
    bool failsSaves = false;

    std::vector<PlayEvent> load() override {
        if (!stored) {
            throw std::runtime_error("no history");
        }
        return *stored;
    }
    void save(const std::vector<PlayEvent>& playEvents) override {
        if (failsSaves) {
            throw std::runtime_error("disk full");
        }
        stored = playEvents;
    }
};

/// Events sorted by start, then sound, so that sounds opened together compare whatever a set's order.
std::vector<PlayEvent> sorted(std::vector<PlayEvent> events) {
    std::stable_sort(events.begin(), events.end(), [](const PlayEvent& lhs, const PlayEvent& rhs) {
        return lhs.start != rhs.start ? lhs.start < rhs.start
                                      : lhs.soundTrack.rawValue() < rhs.soundTrack.rawValue();
    });
    return events;
}

class StatsTrackerTest : public test::LoopTest {
protected:
    StatsTrackerTest() {
        environment_.set("SOMNARA_HOME", home_.path().string());
        environment_.set("TZ", "Europe/Berlin");
        FileLocations::setShared(nullptr);
        UserDefaults::resetShared();
    }
    ~StatsTrackerTest() override {
        UserDefaults::resetShared();
        FileLocations::setShared(nullptr);
    }

    /// Starts a tracker over a player with `selected` and the fixture's store.
    void track(SoundTracks selected) {
        player = std::make_shared<ScriptedPlayer>(std::move(selected));
        tracker = StatsTracker::make(player, store);
        loop.runUntilIdle();
    }
    Date now() const { return loop.now(); }
    std::optional<Date> lastActiveDate() const {
        return UserDefaults::standard()->date(LastActiveDateTracker::userDefaultsKey);
    }
    std::shared_ptr<MemoryStatsStore> store = std::make_shared<MemoryStatsStore>();
    std::shared_ptr<ScriptedPlayer> player;
    std::shared_ptr<StatsTracker> tracker;

    test::ScopedEnvironment environment_;
    test::AnalyticsRecorder analytics;

private:
    test::TemporaryDirectory home_;
};

// One session: a change while stopped opens nothing; a deselected sound closes at once; through a fade
// the sound is still heard, so events stay open until the player has stopped; a sleep fade cancelled by
// playing again opens a second event; an interruption closes what is open.
TEST_F(StatsTrackerTest, EventsOpenWhilePlayingAndCloseWhenTheSoundEnds) {
    track({SoundTrack::rain});
    player->select({SoundTrack::rain, SoundTrack::fan});
    loop.runUntilIdle();
    EXPECT_EQ(store->stored, std::vector<PlayEvent>{});

    const Date start = now();
    const auto at = [start](double seconds) { return start.addingTimeInterval(seconds); };
    player->setState(NoisePlayerState::playing());
    loop.advance(60s);
    player->select({SoundTrack::rain});
    loop.advance(600s);
    player->setState(NoisePlayerState::sleepFadeOut(30));
    loop.advance(10s);
    player->setState(NoisePlayerState::playing());
    loop.advance(50s);
    player->setState(NoisePlayerState::stopping(3));
    loop.advance(3s);
    player->setState(NoisePlayerState::stopped());
    loop.advance(100s);
    player->setState(NoisePlayerState::playing());
    loop.advance(5s);
    player->setState(NoisePlayerState::interrupted());
    loop.runUntilIdle();
    EXPECT_EQ(sorted(*store->stored), (std::vector<PlayEvent>{{start, SoundTrack::rain, at(723)},
                                                              {start, SoundTrack::fan, at(60)},
                                                              {at(670), SoundTrack::rain, at(723)},
                                                              {at(823), SoundTrack::rain, at(828)}}));
    const auto stats = tracker->stats(now());
    EXPECT_EQ(stats.playCountPerSoundTrack.at(SoundTrack::rain), 3);
    EXPECT_DOUBLE_EQ(stats.totalListeningTime, 728);
    EXPECT_EQ(stats.totalPlaysCount, 2);
    EXPECT_TRUE(analytics.assertions().empty());
}

TEST_F(StatsTrackerTest, OpenEventsOfAnEarlierRunAreClosedAtTheLastActiveDateOrDropped) {
    const Date start = now().addingTimeInterval(-3600);
    const PlayEvent before{start.addingTimeInterval(-7200), SoundTrack::fan, start.addingTimeInterval(-7000)};
    const PlayEvent open{start, SoundTrack::rain, std::nullopt};
    const PlayEvent after{start.addingTimeInterval(10), SoundTrack::owl, start.addingTimeInterval(20)};
    struct Case {
        const char* name;
        std::optional<UserDefaultsValue> lastActive;
        std::vector<PlayEvent> expected;
    };
    const std::vector<Case> cases = {
        {"five minutes after the start",
         UserDefaultsValue{start.addingTimeInterval(300)},
         {before, open.closed(start.addingTimeInterval(300)), after}},
        {"no last active date", std::nullopt, {before, after}},
        {"exactly the start", UserDefaultsValue{start}, {before, after}},
        {"not a date",
         UserDefaultsValue{start.addingTimeInterval(300).timeIntervalSinceReferenceDate},
         {before, after}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        if (testCase.lastActive) {
            UserDefaults::standard()->set(*testCase.lastActive, LastActiveDateTracker::userDefaultsKey);
        } else {
            UserDefaults::standard()->removeObject(LastActiveDateTracker::userDefaultsKey);
        }
        store->stored = std::vector<PlayEvent>{before, open, after};
        track({SoundTrack::rain});
        EXPECT_EQ(store->stored, testCase.expected);
    }
}

TEST_F(StatsTrackerTest, AKilledRunIsClosedWhereItsLastActiveDateLeftIt) {
    const Date start = now();
    {
        // The first run of the app, on a loop of its own that is thrown away as a killed process is.
        VirtualLoop firstRun(start);
        auto firstPlayer = std::make_shared<ScriptedPlayer>(SoundTracks{SoundTrack::rain});
        auto firstTracker = StatsTracker::make(firstPlayer, store);
        firstRun.runUntilIdle();
        firstPlayer->setState(NoisePlayerState::playing());
        firstRun.advance(9s);
        EXPECT_FALSE(lastActiveDate().has_value());
        firstRun.advance(16s);
        EXPECT_EQ(lastActiveDate(), start.addingTimeInterval(20));
    }
    EXPECT_EQ(*store->stored, (std::vector<PlayEvent>{{start, SoundTrack::rain, std::nullopt}}));
    loop.advance(3600s);
    track({SoundTrack::fan});
    EXPECT_EQ(*store->stored,
              (std::vector<PlayEvent>{{start, SoundTrack::rain, start.addingTimeInterval(20)}}));
}

TEST_F(StatsTrackerTest, FailedSavesAreReportedAndTheNextSaveWritesEverything) {
    store->failsSaves = true;
    track({SoundTrack::rain});
    const Date start = now();
    player->setState(NoisePlayerState::playing());
    loop.advance(5s);
    player->select({SoundTrack::fan});
    loop.runUntilIdle();

    // The unreadable start, the first values of both watchers, the play and the change's stop and start.
    const auto failures = analytics.assertions();
    EXPECT_EQ(failures.size(), 6U);
    for (const auto& failure : failures) {
        EXPECT_EQ(failure.message, "Failed to save stats");
    }
    EXPECT_FALSE(store->stored.has_value());

    store->failsSaves = false;
    player->setState(NoisePlayerState::stopped());
    loop.runUntilIdle();
    EXPECT_EQ(*store->stored, (std::vector<PlayEvent>{{start, SoundTrack::rain, start.addingTimeInterval(5)},
                                                      {start.addingTimeInterval(5), SoundTrack::fan,
                                                       start.addingTimeInterval(5)}}));
}

TEST_F(StatsTrackerTest, StatsUseTheUsersTimeZone) {
    // 1 January 2026 00:00 UTC is 01:00 in Berlin and 19:00 on 31 December in New York.
    store->stored = std::vector<PlayEvent>{{now(), SoundTrack::rain, now().addingTimeInterval(60)}};
    track({SoundTrack::rain});
    const Date noonInBerlin = now().addingTimeInterval(11 * 3600);
    EXPECT_EQ(tracker->stats(noonInBerlin).lastThirtyDaysPlayedIndexes, (std::set<std::int64_t>{0}));
    // A leading colon, as TZ allows, names the same zone.
    environment_.set("TZ", ":America/New_York");
    EXPECT_EQ(tracker->stats(noonInBerlin).lastThirtyDaysPlayedIndexes, (std::set<std::int64_t>{1}));
    // An unknown zone falls back to the system's rather than failing.
    environment_.set("TZ", "Nowhere/Special");
    EXPECT_EQ(tracker->stats(noonInBerlin).totalPlaysCount, 1);
}

// Written every ten seconds to the app's own defaults, not to the suite shared with the daemon; a second
// start leaves one writer on the new schedule.
TEST_F(StatsTrackerTest, TheLastActiveDateTrailsTheClockByAtMostTwentySeconds) {
    auto writer = LastActiveDateTracker::make();
    const Date start = now();
    writer->start();
    loop.advance(5s);
    writer->start();
    loop.advance(9.999s);
    EXPECT_FALSE(lastActiveDate().has_value());
    loop.advance(0.001s);
    EXPECT_EQ(lastActiveDate(), start.addingTimeInterval(15));
    loop.advance(5s);
    EXPECT_EQ(lastActiveDate(), start.addingTimeInterval(15)) << "the first writer is still on";
    for (int second = 21; second <= 300; ++second) {
        loop.advance(1s);
        const auto written = lastActiveDate();
        ASSERT_TRUE(written.has_value());
        ASSERT_LE(now().timeIntervalSince(*written), 20) << second;
    }
    EXPECT_FALSE(
        UserDefaults::suite(UserDefaults::appGroupSuiteName)->object(LastActiveDateTracker::userDefaultsKey));
    EXPECT_TRUE(fs::exists(fs::path(std::getenv("SOMNARA_HOME")) / "defaults"));
}

} // namespace
