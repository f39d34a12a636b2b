#include "support/TemporaryDirectory.hpp"

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/foundation/Json.hpp>
#include <somnara/stats/StandardStatsStore.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

using namespace somnara;

namespace {

using test::TemporaryDirectory;

TEST(PlayEventCodingTest, WritesTheStoredFormAndReadsItAndOtherWritersFormsBack) {
    const std::vector<PlayEvent> events = {
        {Date{786'000'000.123456789}, SoundTrack::pinkNoise, Date{786'000'600.5}},
        {Date{-12.25}, SoundTrack::whiteNoise, std::nullopt},
        {Date{0}, SoundTrack::train, Date{1e-9}},
    };
    const std::string text = encodePlayEvents(events);
    const auto document = nlohmann::json::parse(text);
    // An open event has no "end" at all, not a null one.
    EXPECT_EQ(document[1].dump(), R"({"soundTrack":0,"start":-12.25})");
    EXPECT_EQ(document[0]["start"].get<double>(), 786'000'000.123456789);
    EXPECT_EQ(decodePlayEvents(text), events);

    // What other writers produce reads too.
    const std::vector<std::pair<std::string, PlayEvent>> cases = {
        {R"({"start": 10, "soundTrack": 3, "end": null})", {Date{10}, SoundTrack::rain, std::nullopt}},
        {R"({"end": 20.5, "soundTrack": 3.0, "start": 10, "volume": 0.4})",
         {Date{10}, SoundTrack::rain, Date{20.5}}},
        {R"({"start": 1e3, "soundTrack": 49})", {Date{1000}, SoundTrack::train, std::nullopt}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(decodePlayEvent(nlohmann::json::parse(text)), expected) << text;
    }
}

TEST(PlayEventCodingTest, OneBadElementFailsTheWholeHistory) {
    const std::string good = R"({"start": 10, "soundTrack": 3, "end": 20})";
    const std::vector<std::string> bad = {
        R"({"soundTrack": 3})",
        R"({"start": 10})",
        R"({"start": 10, "soundTrack": 50})",
        R"({"start": 10, "soundTrack": -1})",
        R"({"start": 10, "soundTrack": 2.5})",
        R"({"start": "10", "soundTrack": 3})",
        R"({"start": 10, "soundTrack": "rain"})",
        R"({"start": 10, "soundTrack": 3, "end": "later"})",
        R"({"start": null, "soundTrack": 3})",
        R"(3)",
    };
    for (const auto& element : bad) {
        EXPECT_THROW(decodePlayEvents("[" + good + "," + element + "]"), json::DecodingError) << element;
    }
    for (const std::string& text :
         std::vector<std::string>{"", "{}", R"({"start": 10, "soundTrack": 3})", "[" + good, "null"}) {
        EXPECT_THROW(decodePlayEvents(text), json::DecodingError) << text;
    }
}

TEST(StandardStatsStoreTest, SavesAndLoadsTheWholeHistoryAndAFailedSaveKeepsThePreviousFile) {
    TemporaryDirectory directory;
    StandardStatsStore store(directory.path() / "playback_logs");
    EXPECT_THROW(store.load(), std::filesystem::filesystem_error);

    std::vector<PlayEvent> events;
    for (int index = 0; index < 1000; ++index) {
        events.push_back(
            {Date{index * 3600.0 + 0.001 * index}, *SoundTrack::fromRawValue(index % 50),
             index % 7 == 0 ? std::nullopt : std::optional<Date>{Date{index * 3600.0 + 1800.75}}});
    }
    store.save(events);
    EXPECT_EQ(store.load(), events);
    EXPECT_EQ(readWholeFile(store.localDataPath()), encodePlayEvents(events));

    store.save({});
    EXPECT_EQ(readWholeFile(store.localDataPath()), "[]");
    EXPECT_TRUE(store.load().empty());

    // A failed save keeps the previous file.
    EXPECT_THROW(store.save({{Date{1}, SoundTrack::rain, Date{std::nan("")}}}), std::invalid_argument);
    EXPECT_EQ(readWholeFile(store.localDataPath()), "[]");
    EXPECT_THROW(StandardStatsStore(directory.path() / "missing" / "playback_logs").save({}),
                 std::filesystem::filesystem_error);

    writeFileAtomically(store.localDataPath(), R"([{"start": 1, "soundTrack": 50}])");
    EXPECT_THROW(store.load(), json::DecodingError);
}

} // namespace
