#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace somnara {
namespace {

// Handler lists are process-wide and only grow, so every test shares one recorder per list that it
// clears first.
struct Recorded {
    std::mutex mutex;
    std::vector<std::pair<std::string, LogType>> lines;
    std::vector<std::pair<std::string, EventLogger::Parameters>> events;
    std::vector<EventLogger::Parameters> properties;
    std::vector<int> handlerOrder;

    void clear() {
        const std::lock_guard lock(mutex);
        lines.clear();
        events.clear();
        properties.clear();
        handlerOrder.clear();
    }
};

Recorded& recorded() {
    static Recorded* instance = [] {
        auto* r = new Recorded();
        SomnaraLogger::add([r](const std::string& message, LogType type) {
            const std::lock_guard lock(r->mutex);
            r->lines.emplace_back(message, type);
        });
        EventLogger::add([r](const std::string& name, const EventLogger::Parameters& parameters) {
            const std::lock_guard lock(r->mutex);
            r->events.emplace_back(name, parameters);
            r->handlerOrder.push_back(1);
        });
        EventLogger::add([r](const std::string&, const EventLogger::Parameters&) {
            const std::lock_guard lock(r->mutex);
            r->handlerOrder.push_back(2);
        });
        EventLogger::add([r](const EventLogger::Parameters& properties) {
            const std::lock_guard lock(r->mutex);
            r->properties.push_back(properties);
        });
        return r;
    }();
    return *instance;
}

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        recorded().clear();
        EventLogger::setLaunchArgumentsForTesting(std::vector<std::string>{"somnara", "play"});
        observation_ = ZelAnalyticsLogger::shared().observe([this](const ZelAnalyticsLogger::Record& record) {
            if (record.kind == ZelAnalyticsLogger::Record::Kind::event) {
                const std::lock_guard lock(recorded().mutex);
                recorded().handlerOrder.push_back(0);
            }
            const std::lock_guard lock(recordsMutex_);
            records_.push_back(record);
        });
    }
    void TearDown() override {
        observation_.cancel();
        EventLogger::setLaunchArgumentsForTesting(std::nullopt);
        SomnaraLogger::setMinimumLevel(LogType::info);
        SomnaraLogger::setEchoesToStandardError(false);
    }

    std::vector<ZelAnalyticsLogger::Record> records() {
        const std::lock_guard lock(recordsMutex_);
        return records_;
    }

private:
    std::mutex recordsMutex_;
    std::vector<ZelAnalyticsLogger::Record> records_;
    ZelAnalyticsLogger::Observation observation_;
};

TEST_F(LoggingTest, LoggedAssertionCarriesItsCallSiteAndExecutionContinues) {
    const auto before = ZelAnalyticsLogger::shared().counts().assertionFailures;
    auto& logger = ZelAnalyticsLogger::shared();
    logger.loggedAssert(false, "engine failed", "SomnaraKit/NoisePlayer", "getNowPlayingLayout(for:)", 412);
    logger.loggedAssert(false, std::nullopt, "SomnaraKit/NoisePlayer", "play()", 7);
    logger.loggedAssert(true, "never reported", "SomnaraKit/NoisePlayer", "play()", 8);
    logger.loggedAssertionFailure("fallback", "SomnaraKit/AudioFileFactory", "file(for:)", 9);

    const auto seen = records();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].kind, ZelAnalyticsLogger::Record::Kind::assertionFailure);
    EXPECT_EQ(seen[0].message, "engine failed");
    EXPECT_EQ(seen[0].file, "SomnaraKit/NoisePlayer");
    EXPECT_EQ(seen[0].function, "getNowPlayingLayout(for:)");
    EXPECT_EQ(seen[0].line, 412);
    EXPECT_EQ(seen[1].message, std::nullopt);
    EXPECT_EQ(seen[2].file, "SomnaraKit/AudioFileFactory");
    EXPECT_EQ(logger.counts().assertionFailures - before, 3u);
}

TEST_F(LoggingTest, LaunchArgumentSuppressesEventsButNotUserProperties) {
    struct Case {
        std::vector<std::string> arguments;
        bool suppressed;
    };
    const std::vector<Case> cases = {
        {{"somnara", "-DONTLOGANALYTICS"}, true},
        {{"somnara", "sounds", "-DONTLOGANALYTICS", "--verbose"}, true},
        {{"somnara", "--DONTLOGANALYTICS"}, false},
        {{"somnara", "-dontloganalytics"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        recorded().clear();
        EventLogger::setLaunchArgumentsForTesting(c.arguments);
        const auto before = ZelAnalyticsLogger::shared().counts();

        EventLogger::logEvent("noise_started", nlohmann::json{{"call_site", "widget"}});
        EventLogger::updateUserProperties(nlohmann::json{{"favourites", 3}});

        const auto after = ZelAnalyticsLogger::shared().counts();
        EXPECT_EQ(after.events - before.events, c.suppressed ? 0u : 1u);
        EXPECT_EQ(recorded().events.size(), c.suppressed ? 0u : 1u);
        EXPECT_EQ(after.userProperties - before.userProperties, 1u);
        ASSERT_EQ(recorded().properties.size(), 1u);
        EXPECT_EQ(recorded().properties[0], nlohmann::json({{"favourites", 3}}));
    }
}

TEST_F(LoggingTest, EventsReachTheAnalyticsLibraryFirstThenHandlersInOrder) {
    const nlohmann::json parameters = {{"error", "disk full"}, {"count", 2}, {"lossless", true}};
    EventLogger::logEvent("failed_to_load_audio_files", parameters);
    EventLogger::logEvent("favourited_sound", std::nullopt);

    const auto seen = records();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].name, "failed_to_load_audio_files");
    EXPECT_EQ(seen[0].parameters, parameters);
    ASSERT_EQ(recorded().events.size(), 2u);
    EXPECT_EQ(recorded().events[0].second, parameters);
    EXPECT_EQ(recorded().events[1].second, std::nullopt);
    EXPECT_EQ(recorded().handlerOrder, (std::vector<int>{0, 1, 2, 0, 1, 2}));
}

TEST_F(LoggingTest, SoundTrackEventsCarryCallSiteAndSortedIdentifiers) {
    struct Case {
        std::vector<SoundTrack> tracks;
        EventLogger::CallSite callSite;
        nlohmann::json expected;
    };
    using enum EventLogger::CallSite;
    const std::vector<Case> cases = {
        {{}, commandCenter, {{"call_site", "command_center"}, {"sound_track", ""}}},
        {{SoundTrack::rain}, widget, {{"call_site", "widget"}, {"sound_track", "rain"}}},
        // Plain byte order: "whiteNoise" (capital N) before "white_real", "brown_og" first.
        {{SoundTrack::whiteNoiseReal, SoundTrack::waves, SoundTrack::whiteNoise,
          SoundTrack::brownNoiseModulating},
         trackList,
         {{"call_site", "trackList"}, {"sound_track", "brown_og:waves:whiteNoise:white_real"}}},
        {{SoundTrack::train, SoundTrack::airConditioner},
         userActivity,
         {{"call_site", "user_activity"}, {"sound_track", "airconditioner:train"}}},
    };
    for (const auto& c : cases) {
        recorded().clear();
        const std::unordered_set<SoundTrack> set(c.tracks.begin(), c.tracks.end());
        EventLogger::logEventSoundTrackEvent("noise_started", c.callSite, set);
        ASSERT_EQ(recorded().events.size(), 1u);
        EXPECT_EQ(recorded().events[0].first, "noise_started");
        EXPECT_EQ(recorded().events[0].second, c.expected);
    }
}

TEST_F(LoggingTest, LinesBelowTheEnabledLevelStillReachHandlers) {
    SomnaraLogger::setMinimumLevel(LogType::error);
    SomnaraLogger::setEchoesToStandardError(true);
    struct Case {
        LogType type;
        bool written;
    };
    const std::vector<Case> cases = {{LogType::debug, false},
                                     {LogType::defaultLevel, false},
                                     {LogType::error, true},
                                     {LogType::fault, true}};
    for (const auto& c : cases) {
        recorded().clear();
        const std::string message = std::string("level ") + logTypeName(c.type) + " 100% %s %n";
        ::testing::internal::CaptureStderr();
        SomnaraLogger::log(message, c.type);
        const auto echoed = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(echoed.find(message) != std::string::npos, c.written) << message;
        ASSERT_EQ(recorded().lines.size(), 1u);
        EXPECT_EQ(recorded().lines[0].first, message);
        EXPECT_EQ(recorded().lines[0].second, c.type);
    }
}

TEST_F(LoggingTest, LogFileHoldsOneJSONLinePerRecord) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("somnara-analytics-" + std::to_string(::getpid()) + ".jsonl");
    std::filesystem::remove(path);
    ZelAnalyticsLogger::shared().setLogFile(path);
    EventLogger::logEvent("noise_started", nlohmann::json{{"sound_track", "rain:waves"}});
    EventLogger::updateUserProperties(std::nullopt);
    ZelAnalyticsLogger::shared().loggedAssertionFailure("bad \xff byte", "SomnaraKit/CloudStore", "load()",
                                                        33);
    ZelAnalyticsLogger::shared().setLogFile(std::nullopt);
    EventLogger::logEvent("not_in_file", std::nullopt);

    std::ifstream file(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    std::filesystem::remove(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], nlohmann::json::parse(R"({"type":"event","name":"noise_started",
                                                  "parameters":{"sound_track":"rain:waves"}})"));
    EXPECT_EQ(lines[1], nlohmann::json::parse(R"({"type":"user_properties","properties":null})"));
    EXPECT_EQ(lines[2]["type"], "assertion_failure");
    EXPECT_EQ(lines[2]["line"], 33);
}

TEST_F(LoggingTest, ConcurrentSendersLoseNothing) {
    constexpr int threads = 4;
    constexpr int perThread = 200;
    const auto before = ZelAnalyticsLogger::shared().counts().events;
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t) {
        senders.emplace_back([] {
            for (int i = 0; i < perThread; ++i) {
                EventLogger::logEvent("tick", nlohmann::json{{"i", i}});
                SomnaraLogger::log("tick", LogType::debug);
            }
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_EQ(ZelAnalyticsLogger::shared().counts().events - before, std::uint64_t{threads * perThread});
    EXPECT_EQ(recorded().events.size(), std::size_t{threads * perThread});
    EXPECT_EQ(recorded().lines.size(), std::size_t{threads * perThread});
    EXPECT_EQ(records().size(), std::size_t{threads * perThread});
}

} // namespace
} // namespace somnara
