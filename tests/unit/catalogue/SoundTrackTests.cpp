#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/foundation/Json.hpp>
#include <somnara/foundation/LocalizedString.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace somnara {
namespace {

// The display names are looked up once per process: make that lookup English whatever the machine's
// language, before any test asks for a name.
const bool englishNames = [] { return ::setenv("LANGUAGE", "en", 1) == 0; }();

using Track = SoundTrack;

TEST(SoundTrack, RawValuesAndIdentifiersLookUpExactly) {
    EXPECT_EQ(Track::fromRawValue(0), Track::whiteNoise);
    EXPECT_EQ(Track::fromRawValue(37), Track::pinkNoise);
    EXPECT_EQ(Track::fromRawValue(49), Track::train);
    EXPECT_EQ(Track::fromRawValue(50), std::nullopt);
    EXPECT_EQ(Track::fromRawValue(-1), std::nullopt);

    const std::vector<std::pair<const char*, std::optional<Track>>> identifiers = {
        {"white_real", Track::whiteNoiseReal},
        {"White_real", std::nullopt},
        {"white", std::nullopt},
        {"whiteNoise", Track::whiteNoise},
        {"brown_og", Track::brownNoiseModulating},
        {"airconditioner", Track::airConditioner},
        {"ac", std::nullopt},
        {"", std::nullopt},
        {"train ", std::nullopt},
    };
    for (const auto& [identifier, expected] : identifiers) {
        EXPECT_EQ(Track::fromIdentifier(identifier), expected) << identifier;
    }

    // Every case is found again from its raw value and its identifier, at its own position.
    const auto& all = Track::allCases();
    ASSERT_EQ(all.size(), 50u);
    std::set<std::string_view> seenIdentifiers;
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].rawValue(), static_cast<std::int64_t>(i));
        EXPECT_EQ(Track::fromRawValue(all[i].rawValue()), all[i]);
        EXPECT_EQ(Track::fromIdentifier(all[i].identifier()), all[i]);
        seenIdentifiers.insert(all[i].identifier());
    }
    EXPECT_EQ(seenIdentifiers.size(), 50u);
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
    EXPECT_EQ(table.string("sound_track.multiple_selection"), "%d Sounds Selected");
    EXPECT_EQ(table.string("mix_name.default_name"), "My Mix");
}

TEST(SoundTrack, NextAndPreviousWrapAround) {
    const std::vector<std::tuple<Track, Track, Track>> cases = {
        // track, next, previous
        {Track::train, Track::whiteNoise, Track::airtraffic},
        {Track::whiteNoise, Track::jungle, Track::train},
        {Track::jungle, Track::waves, Track::whiteNoise},
        {Track::pinkNoise, Track::blueNoise, Track::whiteNoiseReal},
    };
    for (const auto& [track, after, before] : cases) {
        EXPECT_EQ(next(track), after) << track.identifier();
        EXPECT_EQ(previous(track), before) << track.identifier();
    }
    // Fifty steps either way come back to the start.
    Track forward = Track::rain;
    Track backward = Track::rain;
    for (int i = 0; i < 50; ++i) {
        forward = next(forward);
        backward = previous(backward);
        EXPECT_EQ(forward == Track::rain, i == 49);
    }
    EXPECT_EQ(backward, Track::rain);
}

TEST(SoundTrack, SortsByDisplayName) {
    std::vector<Track> all(Track::allCases().begin(), Track::allCases().end());
    std::ranges::sort(all);
    EXPECT_EQ(all.front(), Track::airConditioner);
    EXPECT_EQ(all.back(), Track::writing);
    for (std::size_t i = 1; i < all.size(); ++i) {
        EXPECT_LT(all[i - 1].name(), all[i].name());
    }
}

TEST(SoundTrack, StoredAsItsRawValue) {
    EXPECT_EQ(nlohmann::json(Track::pinkNoise), nlohmann::json(37));
    EXPECT_EQ(nlohmann::json(37).get<Track>(), Track::pinkNoise);
    const auto list = nlohmann::json::parse("[3, 0, 49]").get<std::vector<Track>>();
    EXPECT_EQ(list, (std::vector<Track>{Track::rain, Track::whiteNoise, Track::train}));
    EXPECT_EQ(nlohmann::json(list).dump(), "[3,0,49]");

    for (const char* corrupt : {"99", "50", "-1", "\"37\"", "37.5", "null", "[3, 99]"}) {
        const auto value = nlohmann::json::parse(corrupt);
        if (value.is_array()) {
            EXPECT_THROW((void)value.get<std::vector<Track>>(), json::DecodingError) << corrupt;
        } else {
            EXPECT_THROW((void)value.get<Track>(), json::DecodingError) << corrupt;
        }
    }
}

} // namespace
} // namespace somnara
