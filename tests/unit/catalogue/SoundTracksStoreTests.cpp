#include <somnara/catalogue/SoundTracksStore.hpp>

#include <gtest/gtest.h>

#include <vector>

namespace somnara {
namespace {

using Track = SoundTrack;
using Tracks = std::vector<Track>;

TEST(SoundTracksStore, SearchesDisplayNamesBestFirst) {
    const SoundTracksStore store(Tracks(Track::allCases().begin(), Track::allCases().end()));
    EXPECT_TRUE(store.searchMultiple("").empty());
    EXPECT_EQ(store.search(""), std::nullopt);
    EXPECT_EQ(store.search("qqqq"), std::nullopt);

    const std::vector<std::pair<const char*, Track>> best = {
        {"rain", Track::rain},          {"Brown", Track::whiteNoise}, {"white", Track::whiteNoiseReal},
        {"pink", Track::pinkNoise},     {"hair", Track::hairDryer},   {"air traffic", Track::airtraffic},
        {"fotsteps", Track::footSteps}, {"CAMPFIRE", Track::fire},    {"whale", Track::whales},
    };
    for (const auto& [term, expected] : best) {
        EXPECT_EQ(store.search(term), expected) << term;
        const auto all = store.searchMultiple(term);
        ASSERT_FALSE(all.empty()) << term;
        EXPECT_EQ(all.front(), expected) << term;
    }
}

TEST(SoundTracksStore, KeepsOnlyScoresAboveOneHalfInStableOrder) {
    // "bc" scores exactly 0.5 against "Beach" (b at the start, c inside the word): not kept.
    const SoundTracksStore beach(Tracks{Track::beach});
    EXPECT_TRUE(beach.searchMultiple("bc").empty());
    EXPECT_EQ(beach.searchMultiple("bea"), Tracks{Track::beach});

    // "Wind" and "Womb" score the same for "w": the store's order decides.
    EXPECT_EQ(SoundTracksStore(Tracks{Track::womb, Track::wind}).searchMultiple("w"),
              (Tracks{Track::womb, Track::wind}));
    EXPECT_EQ(SoundTracksStore(Tracks{Track::wind, Track::womb}).searchMultiple("w"),
              (Tracks{Track::wind, Track::womb}));
    // A shorter name scores higher for the same letters, whatever the order given.
    EXPECT_EQ(SoundTracksStore(Tracks{Track::waterfall, Track::wind, Track::waves}).searchMultiple("w"),
              (Tracks{Track::wind, Track::waves, Track::waterfall}));
}

} // namespace
} // namespace somnara
