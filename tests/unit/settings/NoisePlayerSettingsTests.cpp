#include <somnara/foundation/Json.hpp>
#include <somnara/settings/NoisePlayerSettings.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <vector>

namespace somnara {
namespace {

using Json = nlohmann::json;

NoisePlayerSettings everythingChanged() {
    const SoundSettings sound{0.8F,
                              1.3F,
                              12.5F,
                              {0.1F, -3.3F, 24.0F, -96.0F, 0.0F, 1.7F, 2.2F, 3.3F, 4.4F, 5.5F},
                              -123.4F,
                              {7.25, 0.6F},
                              {0.35, -42.1F, 17.9F}};
    return NoisePlayerSettings(
        {SoundTrack::rain, SoundTrack::fan, SoundTrack::train}, SelectionMode::multiple, sound,
        {{SoundTrack::rain, 0.8F}, {SoundTrack::fan, 0.3F}, {SoundTrack::whiteNoise, 0.0F}}, true,
        {1.5, 3.0, 0.25, 0.75, 2.0, 4.0, 30.0});
}

/// The stored form of `everythingChanged()` with `edit` applied, decoded.
NoisePlayerSettings decodeEdited(const std::function<void(Json&)>& edit) {
    auto stored = Json::parse(everythingChanged().encode());
    edit(stored);
    return NoisePlayerSettings::decode(stored.dump());
}

// The stored text is what other processes and older versions read: keys, flat mix array, raw values and
// shortest floats are pinned once, and everything survives a round trip.
TEST(NoisePlayerSettingsJSON, WritesTheStoredFormAndReadsItBack) {
    const auto settings = NoisePlayerSettings()
                              .withCurrentSoundTracks({SoundTrack::fan})
                              .withSoundTracksMixVolume({{SoundTrack::rain, 0.8F}})
                              .withSoundSettings(SoundSettings().withPitch(-123.4F));
    EXPECT_EQ(
        settings.encode(),
        R"({"audioAllowsMixWithOthers":false,"currentSoundTracks":[5],"fadeTiming":{"add":1.0,"crossFade":2.5,)"
        R"("fromInterrupt":0.5,"remove":0.5,"sleepEnd":15.0,"start":2.0,"stop":0.5},"selectionMode":0,)"
        R"("soundSettings":{"delay":{"feedback":0.0,"mix":0.0,"time":1.0},"equalizerGainLevels":[0.0,0.0,0.0,)"
        R"(0.0,0.0,0.0,0.0,0.0,0.0,0.0],"oscillation":{"rate":10.0,"strength":0.0},"pitch":-123.4,)"
        R"("reverb":0.0,"speed":1.0,"volume":1.0},"soundTracksMixVolume":[3,0.8]})");
    EXPECT_EQ(NoisePlayerSettings::decode(everythingChanged().encode()), everythingChanged());
    EXPECT_EQ(NoisePlayerSettings::decode(settings.encode()), settings);
}

TEST(NoisePlayerSettingsJSON, OptionalKeysTakeTheirDefaults) {
    // An optional key written as null reads as an absent one.
    for (const bool asNull : {false, true}) {
        const auto absent = [asNull](Json& object, const char* key) {
            asNull ? void(object[key] = nullptr) : void(object.erase(key));
        };
        const auto decoded = decodeEdited([&](Json& s) {
            absent(s, "audioAllowsMixWithOthers");
            absent(s, "fadeTiming");
            for (const char* key : {"volume", "equalizerGainLevels", "oscillation", "delay"}) {
                absent(s["soundSettings"], key);
            }
        });
        auto expected = everythingChanged();
        expected.audioAllowsMixWithOthers = false;
        expected.fadeTiming = {};
        expected.soundSettings = expected.soundSettings.withVolume(1.0F)
                                     .withEqualizerGainLevels(std::vector<float>(10, 0.0F))
                                     .withOscillation({10.0, 0.0F})
                                     .withDelay({1.0, 0.0F, 0.0F});
        EXPECT_EQ(decoded, expected) << asNull;
    }
}

TEST(NoisePlayerSettingsJSON, IsStrictEverywhereElse) {
    // Each case puts a value at a place in the stored form, or with none removes what is there.
    const std::vector<std::pair<const char*, std::optional<Json>>> failures{
        {"/soundSettings/speed", std::nullopt},
        {"/soundSettings/oscillation/strength", std::nullopt},
        {"/currentSoundTracks", std::nullopt},
        {"/selectionMode", std::nullopt},
        {"/soundTracksMixVolume", std::nullopt},
        {"/currentSoundTracks", Json::array({3, 50})},
        {"/currentSoundTracks", Json::array({3.5})},
        {"/currentSoundTracks", 3},
        {"/selectionMode", 2},
        {"/soundTracksMixVolume", Json::array({3, 0.5, 5})},
        {"/soundTracksMixVolume", Json::array({77, 0.5})},
        {"/audioAllowsMixWithOthers", 1},
        {"/soundSettings/equalizerGainLevels", 0},
        {"", Json::array()},
    };
    for (const auto& [place, value] : failures) {
        const Json::json_pointer pointer(place);
        EXPECT_THROW(decodeEdited([&](Json& s) {
                         value ? void(s[pointer] = *value)
                               : void(s[pointer.parent_pointer()].erase(pointer.back()));
                     }),
                     json::DecodingError)
            << place;
    }
    EXPECT_THROW(NoisePlayerSettings::decode("{\"currentSoundTracks\":"), json::DecodingError);

    // Values out of range are kept as stored, unknown keys and repeated sounds are dropped.
    const auto lax = decodeEdited([](Json& s) {
        s["soundSettings"]["equalizerGainLevels"] = Json::array({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
        s["soundSettings"]["volume"] = -2.5;
        s["futureKey"] = Json::object({{"x", 1}});
        s["currentSoundTracks"] = Json::array({3, 3, 5});
    });
    EXPECT_EQ(lax.soundSettings.equalizerGainLevels.size(), 11U);
    EXPECT_EQ(lax.soundSettings.volume, -2.5F);
    EXPECT_EQ(lax.currentSoundTracks, (NoisePlayerSettings::SoundTracks{SoundTrack::rain, SoundTrack::fan}));
}

// Every flag holds for the defaults (each is one comparison with its default); the gains are default only
// as exactly ten zeros.
TEST(SoundSettings, DefaultFlagsHoldForTheDefaultsAndGainsOnlyAsTenZeros) {
    const SoundSettings base;
    EXPECT_EQ(
        (std::vector<bool>{base.isDefault(), base.isVolumeDefault(), base.isSpeedDefault(),
                           base.isReverbDefault(), base.isPitchDefault(), base.isEqualizerGainLevelsDefault(),
                           base.isOscillationDefault(), base.isDelayDefault()}),
        std::vector<bool>(8, true));
    for (const auto& gains : {std::vector<float>(11, 0.0F), std::vector<float>(9, 0.0F),
                              std::vector<float>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0.5F}}) {
        EXPECT_FALSE(base.withEqualizerGainLevels(gains).isEqualizerGainLevelsDefault()) << gains.size();
        EXPECT_FALSE(base.withEqualizerGainLevels(gains).isDefault()) << gains.size();
    }
}

} // namespace
} // namespace somnara
