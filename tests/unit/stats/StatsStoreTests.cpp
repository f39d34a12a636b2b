#include <somnara/foundation/Json.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/stats/StandardStatsStore.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace somnara;
namespace fs = std::filesystem;

namespace {

class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = (fs::temp_directory_path() / "somnara-stats-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryDirectory() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PlayEventCodingTest, WritesTheStoredFormAndReadsItBack) {
    const std::vector<PlayEvent> events = {
        {Date{786'000'000.123456789}, SoundTrack::pinkNoise, Date{786'000'600.5}},
        {Date{-12.25}, SoundTrack::whiteNoise, std::nullopt},
        {Date{0}, SoundTrack::train, Date{1e-9}},
    };
    const std::string text = encodePlayEvents(events);
    const auto document = nlohmann::json::parse(text);
    ASSERT_TRUE(document.is_array());
    ASSERT_EQ(document.size(), 3u);
    EXPECT_EQ(document[0]["soundTrack"], 37);
    EXPECT_TRUE(document[0]["soundTrack"].is_number_integer());
    EXPECT_EQ(document[0]["start"].get<double>(), 786'000'000.123456789);
    // An open event has no "end" at all, not a null one.
    EXPECT_FALSE(document[1].contains("end"));
    EXPECT_EQ(text.find(' '), std::string::npos);
    EXPECT_EQ(decodePlayEvents(text), events);
    EXPECT_EQ(encodePlayEvents({}), "[]");
    EXPECT_TRUE(decodePlayEvents("[]").empty());
}

TEST(PlayEventCodingTest, ReadsWhatOtherWritersProduce) {
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

TEST(PlayEventCodingTest, ADateJSONCannotHoldIsNotWritten) {
    const std::vector<PlayEvent> events = {
        {Date{10}, SoundTrack::rain, Date{std::numeric_limits<double>::infinity()}}};
    EXPECT_THROW(encodePlayEvents(events), std::invalid_argument);
}

TEST(StandardStatsStoreTest, SavesAndLoadsTheWholeHistory) {
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
    EXPECT_EQ(readText(store.localDataPath()), encodePlayEvents(events));

    store.save({});
    EXPECT_EQ(readText(store.localDataPath()), "[]");
    EXPECT_TRUE(store.load().empty());

    writeText(store.localDataPath(), R"([{"start": 1, "soundTrack": 50}])");
    EXPECT_THROW(store.load(), json::DecodingError);
}

TEST(StandardStatsStoreTest, AFailedSaveKeepsThePreviousFile) {
    TemporaryDirectory directory;
    StandardStatsStore store(directory.path() / "playback_logs");
    const std::vector<PlayEvent> before = {{Date{1}, SoundTrack::rain, Date{2}}};
    store.save(before);
    EXPECT_THROW(store.save({{Date{1}, SoundTrack::rain, Date{std::nan("")}}}), std::invalid_argument);
    EXPECT_EQ(store.load(), before);

    StandardStatsStore nowhere(directory.path() / "missing" / "playback_logs");
    EXPECT_THROW(nowhere.save(before), std::filesystem::filesystem_error);
}

TEST(StandardStatsStoreTest, LivesInTheDocumentsDirectory) {
    TemporaryDirectory directory;
    const char* previous = std::getenv("SOMNARA_HOME");
    const std::string saved = previous ? previous : "";
    setenv("SOMNARA_HOME", directory.path().c_str(), 1);
    FileLocations::setShared(nullptr);
    StandardStatsStore store;
    EXPECT_EQ(store.localDataPath(), directory.path() / "playback_logs");
    if (previous) {
        setenv("SOMNARA_HOME", saved.c_str(), 1);
    } else {
        unsetenv("SOMNARA_HOME");
    }
    FileLocations::setShared(nullptr);
}

// A writer killed at any moment of a save leaves either the history before it or the one after it,
// never a file that cannot be read. Real processes and real time: the kill must land inside real
// writes, renames and flushes.
TEST(StandardStatsStoreTest, AWriterKilledWhileSavingNeverLeavesAnUnreadableHistory) {
    TemporaryDirectory directory;
    const fs::path path = directory.path() / "playback_logs";
    std::vector<PlayEvent> first;
    for (int index = 0; index < 20'000; ++index) {
        first.push_back({Date{800'000'000.0 + index * 600.25}, *SoundTrack::fromRawValue(index % 50),
                         Date{800'000'000.0 + index * 600.25 + 300.5}});
    }
    std::vector<PlayEvent> second = first;
    second.push_back({Date{900'000'000.5}, SoundTrack::owl, std::nullopt});
    StandardStatsStore(path).save(first);

    std::mt19937 random(20261205);
    // A save of this history takes some tens of milliseconds here (encoding, writing, flushing): the
    // delays reach over several saves so that kills land in every step of one.
    std::uniform_int_distribution<int> delayMicroseconds(0, 120'000);
    int interruptedSaves = 0;
    int newHistoriesSeen = 0;
    constexpr int kills = 200;
    for (int attempt = 0; attempt < kills; ++attempt) {
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            try {
                StandardStatsStore store(path);
                for (unsigned round = 0;; ++round) {
                    store.save(round % 2 == 0 ? second : first);
                }
            } catch (...) {
                ::_exit(3);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        // A temporary file left beside the history shows that this kill landed inside a save.
        for (const auto& entry : fs::directory_iterator(directory.path())) {
            if (entry.path() != path) {
                ++interruptedSaves;
                fs::remove(entry.path());
            }
        }
        std::vector<PlayEvent> loaded;
        ASSERT_NO_THROW(loaded = StandardStatsStore(path).load()) << "after kill " << attempt;
        ASSERT_TRUE(loaded == first || loaded == second) << "after kill " << attempt;
        newHistoriesSeen += loaded == second ? 1 : 0;
    }
    std::cout << "[          ] " << interruptedSaves << " of " << kills << " kills left a save half done; "
              << newHistoriesSeen << " found the newer history\n";
    // Without kills inside a save, and saves that completed, the test would prove nothing.
    EXPECT_GT(interruptedSaves, 0);
    EXPECT_GT(newHistoriesSeen, 0);
}

} // namespace
