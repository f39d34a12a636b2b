#include <somnara/foundation/Json.hpp>
#include <somnara/settings/NoisePlayerSettings.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace somnara {
namespace {

using Json = nlohmann::json;

NoisePlayerSettings everythingChanged() {
    SoundSettings sound;
    sound.volume = 0.8F;
    sound.speed = 1.3F;
    sound.reverb = 12.5F;
    sound.equalizerGainLevels = {0.1F, -3.3F, 24.0F, -96.0F, 0.0F, 1.7F, 2.2F, 3.3F, 4.4F, 5.5F};
    sound.pitch = -123.4F;
    sound.oscillation = {7.25, 0.6F};
    sound.delay = {0.35, -42.1F, 17.9F};
    return NoisePlayerSettings(
        {SoundTrack::rain, SoundTrack::fan, SoundTrack::train}, SelectionMode::multiple, sound,
        {{SoundTrack::rain, 0.8F}, {SoundTrack::fan, 0.3F}, {SoundTrack::whiteNoise, 0.0F}}, true,
        {1.5, 3.0, 0.25, 0.75, 2.0, 4.0, 30.0});
}

std::set<std::string> keysOf(const Json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.insert(key);
    }
    return keys;
}

/// The stored form of `everythingChanged()` with `edit` applied, decoded.
NoisePlayerSettings decodeEdited(const std::function<void(Json&)>& edit) {
    auto stored = Json::parse(everythingChanged().encode());
    edit(stored);
    return NoisePlayerSettings::decode(stored.dump());
}

TEST(NoisePlayerSettingsJSON, RoundTripsEveryField) {
    const auto settings = everythingChanged();
    EXPECT_EQ(NoisePlayerSettings::decode(settings.encode()), settings);
    EXPECT_EQ(NoisePlayerSettings::decode(NoisePlayerSettings().encode()),
              NoisePlayerSettings::defaultValue());
}

TEST(NoisePlayerSettingsJSON, UsesTheFieldNamesAsKeys) {
    const auto stored = Json::parse(everythingChanged().encode());
    EXPECT_EQ(keysOf(stored),
              (std::set<std::string>{"fadeTiming", "currentSoundTracks", "selectionMode",
                                     "soundTracksMixVolume", "audioAllowsMixWithOthers", "soundSettings"}));
    EXPECT_EQ(keysOf(stored["fadeTiming"]), (std::set<std::string>{"crossFade", "start", "fromInterrupt",
                                                                   "stop", "add", "remove", "sleepEnd"}));
    EXPECT_EQ(keysOf(stored["soundSettings"]),
              (std::set<std::string>{"volume", "speed", "reverb", "equalizerGainLevels", "pitch",
                                     "oscillation", "delay"}));
    EXPECT_EQ(keysOf(stored["soundSettings"]["oscillation"]), (std::set<std::string>{"rate", "strength"}));
    EXPECT_EQ(keysOf(stored["soundSettings"]["delay"]), (std::set<std::string>{"time", "feedback", "mix"}));
    EXPECT_EQ(stored["selectionMode"], 1);
    EXPECT_EQ(stored["audioAllowsMixWithOthers"], true);
    EXPECT_EQ(stored["fadeTiming"]["sleepEnd"], 30.0);
    auto tracks = stored["currentSoundTracks"].get<std::vector<int>>();
    std::sort(tracks.begin(), tracks.end());
    EXPECT_EQ(tracks, (std::vector<int>{3, 5, 49}));
}

TEST(NoisePlayerSettingsJSON, WritesMixVolumesAsAFlatAlternatingArray) {
    const auto settings =
        NoisePlayerSettings().withSoundTracksMixVolume({{SoundTrack::rain, 0.8F}, {SoundTrack::fan, 0.3F}});
    const auto text = settings.encode();
    const auto volumes = Json::parse(text)["soundTracksMixVolume"];
    ASSERT_TRUE(volumes.is_array());
    ASSERT_EQ(volumes.size(), 4U);
    const bool rainFirst = volumes[0] == 3;
    EXPECT_EQ(volumes.dump(), rainFirst ? "[3,0.8,5,0.3]" : "[5,0.3,3,0.8]");
    // The floats are written shortest everywhere.
    EXPECT_EQ(text.find("0.800000011920929"), std::string::npos) << text;
    EXPECT_NE(Json::parse(everythingChanged().encode())["soundSettings"].dump().find("\"pitch\":-123.4"),
              std::string::npos);
    EXPECT_EQ(NoisePlayerSettings::decode(text).soundTracksMixVolume, settings.soundTracksMixVolume);
}

TEST(NoisePlayerSettingsJSON, OptionalKeysTakeTheirDefaults) {
    // An optional key written as null reads as an absent one.
    const std::function<void(Json&, const char*)> absences[] = {
        [](Json& object, const char* key) { object.erase(key); },
        [](Json& object, const char* key) { object[key] = nullptr; },
    };
    for (const auto& absent : absences) {
        auto withoutRecordOptionals = decodeEdited([&](Json& s) {
            absent(s, "audioAllowsMixWithOthers");
            absent(s, "fadeTiming");
        });
        EXPECT_FALSE(withoutRecordOptionals.audioAllowsMixWithOthers);
        EXPECT_EQ(withoutRecordOptionals.fadeTiming,
                  (NoisePlayerSettings::FadeTiming{2.5, 2.0, 0.5, 0.5, 1.0, 0.5, 15.0}));
        EXPECT_EQ(withoutRecordOptionals.soundSettings, everythingChanged().soundSettings);

        auto withoutSoundOptionals = decodeEdited([&](Json& s) {
            for (const char* key : {"volume", "equalizerGainLevels", "oscillation", "delay"}) {
                absent(s["soundSettings"], key);
            }
        });
        const auto& sound = withoutSoundOptionals.soundSettings;
        EXPECT_EQ(sound.volume, 1.0F);
        EXPECT_EQ(sound.equalizerGainLevels, std::vector<float>(10, 0.0F));
        EXPECT_EQ(sound.oscillation, (SoundSettings::Oscillation{10.0, 0.0F}));
        EXPECT_EQ(sound.delay, (SoundSettings::Delay{1.0, 0.0F, 0.0F}));
        EXPECT_EQ(sound.speed, 1.3F);
        EXPECT_EQ(sound.pitch, -123.4F);
    }
}

TEST(NoisePlayerSettingsJSON, IsStrictEverywhereElse) {
    struct Case {
        const char* name;
        std::function<void(Json&)> edit;
    };
    const std::vector<Case> failures{
        {"no speed", [](Json& s) { s["soundSettings"].erase("speed"); }},
        {"no sleepEnd", [](Json& s) { s["fadeTiming"].erase("sleepEnd"); }},
        {"no strength", [](Json& s) { s["soundSettings"]["oscillation"].erase("strength"); }},
        {"no currentSoundTracks", [](Json& s) { s.erase("currentSoundTracks"); }},
        {"no selectionMode", [](Json& s) { s.erase("selectionMode"); }},
        {"no soundSettings", [](Json& s) { s.erase("soundSettings"); }},
        {"no soundTracksMixVolume", [](Json& s) { s.erase("soundTracksMixVolume"); }},
        {"sound raw value 50",
         [](Json& s) {
             s["currentSoundTracks"] = Json::array({3, 50});
         }},
        {"sound as text", [](Json& s) { s["currentSoundTracks"] = Json::array({"rain"}); }},
        {"sound with a fraction", [](Json& s) { s["currentSoundTracks"] = Json::array({3.5}); }},
        {"tracks not an array", [](Json& s) { s["currentSoundTracks"] = 3; }},
        {"mode 2", [](Json& s) { s["selectionMode"] = 2; }},
        {"odd mix array",
         [](Json& s) {
             s["soundTracksMixVolume"] = Json::array({3, 0.5, 5});
         }},
        {"mix volume as text",
         [](Json& s) {
             s["soundTracksMixVolume"] = Json::array({3, "0.5"});
         }},
        {"mix key out of catalogue",
         [](Json& s) {
             s["soundTracksMixVolume"] = Json::array({77, 0.5});
         }},
        {"mix flag as number", [](Json& s) { s["audioAllowsMixWithOthers"] = 1; }},
        {"gains not an array", [](Json& s) { s["soundSettings"]["equalizerGainLevels"] = 0; }},
        {"not an object", [](Json& s) { s = Json::array(); }},
    };
    for (const auto& [name, edit] : failures) {
        EXPECT_THROW(decodeEdited(edit), json::DecodingError) << name;
    }
    EXPECT_THROW(NoisePlayerSettings::decode("{\"currentSoundTracks\":"), json::DecodingError);
}

TEST(NoisePlayerSettingsJSON, KeepsValuesAsStoredAndIgnoresUnknownKeys) {
    const auto settings = decodeEdited([](Json& s) {
        s["soundSettings"]["equalizerGainLevels"] = Json::array({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
        s["soundSettings"]["speed"] = 5;
        s["soundSettings"]["volume"] = -2.5;
        s["futureKey"] = Json::object({{"x", 1}});
        s["soundSettings"]["futureEffect"] = true;
        s["currentSoundTracks"] = Json::array({3, 3, 5});
    });
    EXPECT_EQ(settings.soundSettings.equalizerGainLevels.size(), 11U);
    EXPECT_EQ(settings.soundSettings.equalizerGainLevels[10], 11.0F);
    EXPECT_EQ(settings.soundSettings.speed, 5.0F);
    EXPECT_EQ(settings.soundSettings.volume, -2.5F);
    EXPECT_EQ(settings.currentSoundTracks,
              (NoisePlayerSettings::SoundTracks{SoundTrack::rain, SoundTrack::fan}));
}

TEST(NoisePlayerSettingsValues, HaveTheDocumentedDefaults) {
    const auto settings = NoisePlayerSettings::defaultValue();
    EXPECT_EQ(settings.currentSoundTracks, NoisePlayerSettings::SoundTracks{SoundTrack::rain});
    EXPECT_EQ(settings.selectionMode, SelectionMode::single);
    EXPECT_TRUE(settings.soundTracksMixVolume.empty());
    EXPECT_FALSE(settings.audioAllowsMixWithOthers);
    EXPECT_TRUE(settings.soundSettings.isDefault());
}

TEST(SoundSettingsDefaultTests, TellExactlyWhichPartDiffers) {
    using Flags = std::vector<bool>;
    // isDefault, volume, speed, reverb, pitch, gains, oscillation, delay
    const auto flags = [](const SoundSettings& s) {
        return Flags{s.isDefault(),
                     s.isVolumeDefault(),
                     s.isSpeedDefault(),
                     s.isReverbDefault(),
                     s.isPitchDefault(),
                     s.isEqualizerGainLevelsDefault(),
                     s.isOscillationDefault(),
                     s.isDelayDefault()};
    };
    const auto base = SoundSettings::defaultValue();
    struct Case {
        const char* name;
        SoundSettings settings;
        Flags expected;
    };
    const std::vector<Case> cases{
        {"default", base, {true, true, true, true, true, true, true, true}},
        {"volume", base.withVolume(0.5F), {false, false, true, true, true, true, true, true}},
        {"speed", base.withSpeed(1.01F), {false, true, false, true, true, true, true, true}},
        {"reverb", base.withReverb(0.001F), {false, true, true, false, true, true, true, true}},
        {"pitch", base.withPitch(-1.0F), {false, true, true, true, false, true, true, true}},
        {"eleven zeros",
         base.withEqualizerGainLevels(std::vector<float>(11, 0.0F)),
         {false, true, true, true, true, false, true, true}},
        {"nine zeros",
         base.withEqualizerGainLevels(std::vector<float>(9, 0.0F)),
         {false, true, true, true, true, false, true, true}},
        {"one band",
         base.withEqualizerGainLevels({0, 0, 0, 0, 0, 0, 0, 0, 0, 0.5F}),
         {false, true, true, true, true, false, true, true}},
        {"rate",
         base.withOscillation(base.oscillation.withRate(9.0)),
         {false, true, true, true, true, true, false, true}},
        {"delay time",
         base.withDelay(base.delay.withTime(1.5)),
         {false, true, true, true, true, true, true, false}},
        {"echo preset",
         SoundSettings::soundSettings(SoundSettings::Preset::echo),
         {false, true, true, true, true, true, true, false}},
    };
    for (const auto& [name, settings, expected] : cases) {
        EXPECT_EQ(flags(settings), expected) << name;
    }
}

TEST(SoundSettingsPresets, AreTheDefaultsWithTheirChanges) {
    using Preset = SoundSettings::Preset;
    const auto base = SoundSettings::defaultValue();
    auto distant = base;
    distant.reverb = 30.0F;
    auto echo = base;
    echo.delay = {2.0, -50.0F, 5.0F};
    auto bass = base;
    bass.equalizerGainLevels[0] = 20.0F;
    auto lowPass = base;
    lowPass.equalizerGainLevels = {-96.0F, -24.0F, 12.0F, 0, 0, 0, 0, 0, 0, 0};
    auto highPass = base;
    highPass.equalizerGainLevels = {0, 0, 0, 0, 0, 0, 0, 12.0F, -24.0F, -96.0F};
    auto slow = base;
    slow.speed = 0.5F;
    const std::vector<std::pair<Preset, SoundSettings>> expected{
        {Preset::defaultPreset, base}, {Preset::distant, distant}, {Preset::echo, echo},
        {Preset::bassBoost, bass},     {Preset::lowPass, lowPass}, {Preset::highPass, highPass},
        {Preset::slow, slow},
    };
    ASSERT_EQ(SoundSettings::allPresets.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto [preset, settings] = expected[i];
        EXPECT_EQ(SoundSettings::allPresets[i], preset);
        EXPECT_EQ(rawValue(preset), static_cast<std::int64_t>(i));
        EXPECT_EQ(SoundSettings::presetFromRawValue(static_cast<std::int64_t>(i)), preset);
        EXPECT_EQ(SoundSettings::soundSettings(preset), settings) << presetName(preset);
    }
    EXPECT_EQ(SoundSettings::presetFromRawValue(7), std::nullopt);
    EXPECT_EQ(SoundSettings::presetFromRawValue(-1), std::nullopt);
}

} // namespace
} // namespace somnara
