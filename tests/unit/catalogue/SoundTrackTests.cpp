#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/foundation/LocalizedString.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace somnara {
namespace {

// The display names are looked up once per process: make that lookup English whatever the machine's
// language, before any test of this program asks for a name (the store's search tests too).
const bool englishNames = [] { return ::setenv("LANGUAGE", "en", 1) == 0; }();

using Track = SoundTrack;

// Raw values out of range are refused in the decoders' tests (settings, mixes, play events).
TEST(SoundTrack, RawValuesAndIdentifiersLookUpExactly) {
    const std::vector<std::pair<const char*, std::optional<Track>>> identifiers = {
        {"white_real", Track::whiteNoiseReal},
        {"White_real", std::nullopt},
        {"whiteNoise", Track::whiteNoise},
        {"ac", std::nullopt},
        {"train ", std::nullopt},
    };
    for (const auto& [identifier, expected] : identifiers) {
        EXPECT_EQ(Track::fromIdentifier(identifier), expected) << identifier;
    }

    // Every case is found again from its raw value and its identifier, at its own position.
    const auto& all = Track::allCases();
    ASSERT_EQ(all.size(), 50u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(Track::fromRawValue(static_cast<std::int64_t>(i)), all[i]);
        EXPECT_EQ(Track::fromIdentifier(all[i].identifier()), all[i]);
    }
}

TEST(SoundTrack, EnglishTableHoldsEveryNameAndTheSelectionTexts) {
    const auto table =
        LocalizationTable::load(Bundle(std::string(SOMNARA_SOURCE_DIR) + "/resources"), {"en"});
    ASSERT_EQ(table.language(), "en");
    for (const auto track : Track::allCases()) {
        EXPECT_EQ(table.string(track.localizationKey()), std::string(track.englishName()))
            << track.identifier();
        EXPECT_EQ(track.name(), track.englishName());
    }
    // Sounds sort by display name.
    std::vector<Track> sorted(Track::allCases().begin(), Track::allCases().end());
    std::ranges::sort(sorted);
    EXPECT_TRUE(std::ranges::is_sorted(sorted, {}, [](Track t) { return t.name(); }));
    EXPECT_EQ(table.string("sound_track.multiple_selection"), "%d Sounds Selected");
    EXPECT_EQ(table.string("mix_name.default_name"), "My Mix");
}

} // namespace
} // namespace somnara
