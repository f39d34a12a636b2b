#include "support/Recorders.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace somnara {
namespace {

// Handler lists are process-wide and only grow, so every test shares one recorder that it clears first.
struct Recorded {
    std::mutex mutex;
    std::vector<std::pair<std::string, LogType>> lines;
    std::vector<std::pair<std::string, EventLogger::Parameters>> events;
    std::vector<EventLogger::Parameters> properties;
    /// Per event: the analytics library's event count as each of the two handlers saw it.
    std::vector<std::pair<std::uint64_t, int>> handlerCalls;

    void clear() {
        const std::lock_guard lock(mutex);
        lines.clear();
        events.clear();
        properties.clear();
        handlerCalls.clear();
    }
};

Recorded& recorded() {
    static Recorded* instance = [] {
        auto* r = new Recorded();
        SomnaraLogger::add([r](const std::string& message, LogType type) {
            const std::lock_guard lock(r->mutex);
            r->lines.emplace_back(message, type);
        });
        for (int handler = 1; handler <= 2; ++handler) {
            EventLogger::add(
                [r, handler](const std::string& name, const EventLogger::Parameters& parameters) {
                    const auto seen = ZelAnalyticsLogger::shared().counts().events;
                    const std::lock_guard lock(r->mutex);
                    if (handler == 1) {
                        r->events.emplace_back(name, parameters);
                    }
                    r->handlerCalls.emplace_back(seen, handler);
                });
        }
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
    LoggingTest() {
        recorded().clear();
        EventLogger::setLaunchArgumentsForTesting(std::vector<std::string>{"somnara", "play"});
    }
    ~LoggingTest() override {
        EventLogger::setLaunchArgumentsForTesting(std::nullopt);
        SomnaraLogger::setMinimumLevel(LogType::info);
        SomnaraLogger::setEchoesToStandardError(false);
    }

    test::AnalyticsRecorder analytics;
};

// Events reach the analytics library first, then every handler in order, unless the launch arguments
// hold -DONTLOGANALYTICS exactly; user properties always go through.
TEST_F(LoggingTest, EventsReachTheAnalyticsLibraryThenHandlersInOrderUnlessTheLaunchArgumentSuppresses) {
    const nlohmann::json parameters = {{"error", "disk full"}, {"count", 2}, {"lossless", true}};
    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{"somnara", "-DONTLOGANALYTICS"}, true},
        {{"somnara", "sounds", "-DONTLOGANALYTICS", "--verbose"}, true},
        {{"somnara", "--DONTLOGANALYTICS"}, false},
        {{"somnara", "-dontloganalytics"}, false},
    };
    for (const auto& [arguments, suppressed] : cases) {
        SCOPED_TRACE(arguments.back());
        recorded().clear();
        analytics.clear();
        EventLogger::setLaunchArgumentsForTesting(arguments);
        const auto before = ZelAnalyticsLogger::shared().counts().events;
        EventLogger::logEvent("failed_to_load_audio_files", parameters);
        EventLogger::logEvent("favourited_sound", std::nullopt);
        EventLogger::updateUserProperties(nlohmann::json{{"favourites", 3}});

        EXPECT_EQ(recorded().properties,
                  std::vector<EventLogger::Parameters>{nlohmann::json({{"favourites", 3}})});
        const auto seen = analytics.events();
        if (suppressed) {
            EXPECT_TRUE(seen.empty());
            EXPECT_TRUE(recorded().events.empty());
            continue;
        }
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].name, "failed_to_load_audio_files");
        EXPECT_EQ(seen[0].parameters, parameters);
        EXPECT_EQ(recorded().events,
                  (std::vector<std::pair<std::string, EventLogger::Parameters>>{
                      {"failed_to_load_audio_files", parameters}, {"favourited_sound", std::nullopt}}));
        EXPECT_EQ(recorded().handlerCalls,
                  (std::vector<std::pair<std::uint64_t, int>>{
                      {before + 1, 1}, {before + 1, 2}, {before + 2, 1}, {before + 2, 2}}));
    }
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
        EventLogger::logEventSoundTrackEvent(
            "noise_started", c.callSite, std::unordered_set<SoundTrack>(c.tracks.begin(), c.tracks.end()));
        ASSERT_EQ(recorded().events.size(), 1u);
        EXPECT_EQ(recorded().events[0],
                  (std::pair<std::string, EventLogger::Parameters>{"noise_started", c.expected}));
    }
}

TEST_F(LoggingTest, LinesBelowTheEnabledLevelStillReachHandlers) {
    SomnaraLogger::setMinimumLevel(LogType::error);
    SomnaraLogger::setEchoesToStandardError(true);
    for (const auto& [type, written] : std::vector<std::pair<LogType, bool>>{{LogType::debug, false},
                                                                             {LogType::defaultLevel, false},
                                                                             {LogType::error, true},
                                                                             {LogType::fault, true}}) {
        recorded().clear();
        const std::string message = std::string("level ") + logTypeName(type) + " 100% %s %n";
        ::testing::internal::CaptureStderr();
        SomnaraLogger::log(message, type);
        const auto echoed = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(echoed.find(message) != std::string::npos, written) << message;
        EXPECT_EQ(recorded().lines, (std::vector<std::pair<std::string, LogType>>{{message, type}}));
    }
}

TEST_F(LoggingTest, LogFileHoldsOneJSONLinePerRecord) {
    const test::TemporaryDirectory directory;
    const auto path = directory / "analytics.jsonl";
    ZelAnalyticsLogger::shared().setLogFile(path);
    EventLogger::logEvent("noise_started", nlohmann::json{{"sound_track", "rain:waves"}});
    EventLogger::updateUserProperties(std::nullopt);
    ZelAnalyticsLogger::shared().loggedAssertionFailure("bad \xff byte", "SomnaraKit/CloudStore", "load()",
                                                        33);
    ZelAnalyticsLogger::shared().loggedAssert(false, std::nullopt, "SomnaraKit/CloudStore", "init()", 22);
    ZelAnalyticsLogger::shared().setLogFile(std::nullopt);
    EventLogger::logEvent("not_in_file", std::nullopt);

    std::ifstream file(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], nlohmann::json::parse(R"({"type":"event","name":"noise_started",
                                                  "parameters":{"sound_track":"rain:waves"}})"));
    EXPECT_EQ(lines[1], nlohmann::json::parse(R"({"type":"user_properties","properties":null})"));
    EXPECT_EQ(lines[2]["type"], "assertion_failure");
    EXPECT_EQ(lines[2]["line"], 33);
    EXPECT_EQ(lines[3]["message"], nullptr) << "an assertion without a message keeps none";
}

TEST_F(LoggingTest, ConcurrentSendersLoseNothing) {
    constexpr std::size_t threads = 4;
    constexpr int perThread = 200;
    std::vector<std::thread> senders;
    for (std::size_t t = 0; t < threads; ++t) {
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
    EXPECT_EQ(analytics.events().size(), threads * perThread);
    EXPECT_EQ(recorded().events.size(), threads * perThread);
    EXPECT_EQ(recorded().lines.size(), threads * perThread);
}

} // namespace
} // namespace somnara
