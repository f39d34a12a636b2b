// The cost of searching the catalogue by name: the app searches on every key typed, so a search of all
// fifty names must stay far below a frame (target: under 1 ms, so typing never waits for results).

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/catalogue/SoundTracksStore.hpp>
#include <somnara/foundation/StringScore.hpp>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using namespace somnara;

namespace {

const SoundTracksStore& catalogue() {
    static const SoundTracksStore store(
        std::vector<SoundTrack>(SoundTrack::allCases().begin(), SoundTrack::allCases().end()));
    return store;
}

void searchAllNames(benchmark::State& state, const std::string& term) {
    const auto& store = catalogue();
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.searchMultiple(term));
    }
    state.counters["target_ms"] = 1.0;
}

void scoreOneName(benchmark::State& state, const std::string& text, const std::string& word) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(score(text, word, 0.5));
    }
}

} // namespace

BENCHMARK_CAPTURE(searchAllNames, short_term, std::string("ra"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(searchAllNames, word, std::string("noise"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(searchAllNames, accented, std::string("café bruit"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(scoreOneName, ascii, std::string("Air Traffic Control"), std::string("traffic"));
BENCHMARK_CAPTURE(scoreOneName, accented, std::string("Crème brûlée au café"), std::string("creme cafe"));

BENCHMARK_MAIN();
