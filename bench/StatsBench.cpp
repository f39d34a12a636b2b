// The cost of the listening statistics over a long history: the history is never pruned, so a
// heavy user's file grows by a few events a day for years, and every play change rewrites it whole.
//
// Target: the statistics of 100,000 events in under 50 ms (a screen opened by the user waits for
// them). Saves are reported as they are; they run after every start, stop and selection change.

#include <somnara/runtime/Loop.hpp>
#include <somnara/stats/ListeningStats.hpp>
#include <somnara/stats/StandardStatsStore.hpp>
#include <somnara/stats/UserCalendar.hpp>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace somnara;

namespace {

constexpr int historySize = 100'000;
constexpr double targetMilliseconds = 50;

/// About eight years of evening and night listening: sessions of one to three sounds, some sounds
/// joining and leaving partway, a few days skipped, the last event still open.
std::vector<PlayEvent> makeHistory(int count) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sound(0, 49);
    std::uniform_int_distribution<int> soundsPerSession(1, 3);
    std::uniform_real_distribution<double> length(300, 9 * 3600);
    std::uniform_int_distribution<int> skip(0, 9);
    std::vector<PlayEvent> events;
    events.reserve(count);
    double day = 700'000'000;
    while (static_cast<int>(events.size()) < count) {
        day += skip(random) == 0 ? 2 * 86400 : 86400;
        const double start = day + 20 * 3600 + length(random) / 10;
        const int sounds = soundsPerSession(random);
        for (int index = 0; index < sounds && static_cast<int>(events.size()) < count; ++index) {
            const double offset = index * length(random) / 20;
            events.push_back({Date{start + offset}, *SoundTrack::fromRawValue(sound(random)),
                              Date{start + offset + length(random)}});
        }
    }
    events.back().end.reset();
    return events;
}

const std::vector<PlayEvent>& history() {
    static const std::vector<PlayEvent> events = makeHistory(historySize);
    return events;
}

void statsOfTheWholeHistory(benchmark::State& state) {
    const auto& events = history();
    const auto calendar = *UserCalendar::named("Europe/Berlin");
    const Date currentDate = events.back().start.addingTimeInterval(3600);
    for (auto _ : state) {
        auto stats = computeListeningStats(events, currentDate, currentDate, calendar);
        benchmark::DoNotOptimize(stats);
    }
    state.counters["events"] = static_cast<double>(events.size());
    state.counters["target_ms"] = targetMilliseconds;
    state.SetLabel("target: under 50 ms per computation");
}
BENCHMARK(statsOfTheWholeHistory)->Unit(benchmark::kMillisecond);

class TemporaryFile {
public:
    TemporaryFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "somnara-bench-XXXXXX").string();
        directory_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryFile() {
        std::error_code error;
        std::filesystem::remove_all(directory_, error);
    }
    std::filesystem::path path() const { return directory_ / "playback_logs"; }

private:
    std::filesystem::path directory_;
};

void encodeTheWholeHistory(benchmark::State& state) {
    const auto& events = history();
    for (auto _ : state) {
        auto text = encodePlayEvents(events);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encodePlayEvents(events).size()));
}
BENCHMARK(encodeTheWholeHistory)->Unit(benchmark::kMillisecond);

// One save as the tracker does it: encode, write a temporary file, flush it to disk, rename it over
// the history and flush the directory.
void saveTheWholeHistory(benchmark::State& state) {
    const auto& events = history();
    TemporaryFile file;
    StandardStatsStore store(file.path());
    for (auto _ : state) {
        store.save(events);
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file.path()));
}
BENCHMARK(saveTheWholeHistory)->Unit(benchmark::kMillisecond)->UseRealTime();

void loadTheWholeHistory(benchmark::State& state) {
    TemporaryFile file;
    StandardStatsStore store(file.path());
    store.save(history());
    for (auto _ : state) {
        auto events = store.load();
        benchmark::DoNotOptimize(events);
    }
}
BENCHMARK(loadTheWholeHistory)->Unit(benchmark::kMillisecond);

} // namespace
