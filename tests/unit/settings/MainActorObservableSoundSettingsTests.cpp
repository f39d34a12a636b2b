#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/settings/MainActorObservableSoundSettings.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace somnara {
namespace {

using namespace std::chrono_literals;

class ObservableSoundSettingsTest : public test::LoopTest {
protected:
    test::TemporaryDirectory directory;
    std::shared_ptr<NoisePlayerSettingsStore> store = NoisePlayerSettingsStore::make(
        std::make_shared<FileUserDefaults>(directory / "standard.json"), directory / "settings");

    void write(NoisePlayerSettings settings) {
        run([&] { return store->setNoisePlayerSettings(settings); });
    }
    NoisePlayerSettings current() {
        return run([&] { return store->noisePlayerSettings(); });
    }
};

/// The published values and flags of the object, as one comparable record.
SoundSettings shown(const MainActorObservableSoundSettings& o) {
    SoundSettings s;
    s.volume = o.appVolume();
    s.speed = o.speed();
    s.reverb = o.reverb();
    s.equalizerGainLevels = o.equalizerGainLevels();
    s.pitch = o.pitch();
    s.oscillation = {o.oscillationRate(), o.oscillationStrength()};
    s.delay = {o.delayTime(), o.delayFeedback(), o.delayMix()};
    return s;
}

std::vector<bool> flagsShown(const MainActorObservableSoundSettings& o) {
    return {
        o.isSoundSettingsDefault(),       o.isVolumeDefault(), o.isSpeedDefault(),       o.isReverbDefault(),
        o.isEqualizerGainLevelsDefault(), o.isPitchDefault(),  o.isOscillationDefault(), o.isDelayDefault()};
}

std::vector<bool> flagsOf(const SoundSettings& s) {
    return {s.isDefault(),
            s.isVolumeDefault(),
            s.isSpeedDefault(),
            s.isReverbDefault(),
            s.isEqualizerGainLevelsDefault(),
            s.isPitchDefault(),
            s.isOscillationDefault(),
            s.isDelayDefault()};
}

TEST_F(ObservableSoundSettingsTest, StartsFromAndFollowsTheStore) {
    const auto echo = SoundSettings::soundSettings(SoundSettings::Preset::echo).withPitch(-20.0F);
    write(NoisePlayerSettings().withSoundSettings(echo));
    auto observed = MainActorObservableSoundSettings::make(store);
    EXPECT_EQ(shown(*observed), echo);
    EXPECT_EQ(flagsShown(*observed), flagsOf(echo));

    SoundSettings changed;
    changed.volume = 0.25F;
    changed.equalizerGainLevels = {1, 2, 3};
    changed.oscillation = {2.0, 1.0F};
    write(current().withSoundSettings(changed));
    EXPECT_EQ(shown(*observed), changed);
    EXPECT_EQ(flagsShown(*observed), flagsOf(changed));

    write(current().withSoundSettings(SoundSettings::defaultValue()));
    EXPECT_EQ(flagsShown(*observed), std::vector<bool>(8, true));
}

TEST_F(ObservableSoundSettingsTest, TellsObserversBeforeEachChange) {
    auto observed = MainActorObservableSoundSettings::make(store);
    loop.runUntilIdle();
    std::vector<float> speedsSeen;
    auto connection = observed->objectWillChange().connect([&] { speedsSeen.push_back(observed->speed()); });

    observed->setSpeed(1.5F);
    // Speed and two flags change; each is announced while the old speed still shows.
    EXPECT_EQ(speedsSeen, (std::vector<float>{1.0F, 1.0F, 1.0F}));
    EXPECT_EQ(observed->speed(), 1.5F);

    speedsSeen.clear();
    observed->setSpeed(1.5F);
    loop.runUntilIdle();
    EXPECT_TRUE(speedsSeen.empty()) << "an unchanged value was announced";

    observed->setReverb(5.0F);
    // Reverb and its flag; the whole-record flag was already false.
    EXPECT_EQ(speedsSeen.size(), 2U);

    connection.disconnect();
    speedsSeen.clear();
    observed->resetAllSoundSettings();
    loop.runUntilIdle();
    EXPECT_TRUE(speedsSeen.empty());
}

TEST_F(ObservableSoundSettingsTest, EachEditWritesOneChangedCopyThroughTheStore) {
    auto observed = MainActorObservableSoundSettings::make(store);
    const auto others =
        NoisePlayerSettings().withSelectionMode(SelectionMode::multiple).withAudioAllowsMixWithOthers(true);
    write(others.withSoundSettings(SoundSettings().withReverb(10.0F)));

    struct Case {
        const char* name;
        std::function<void()> edit;
        std::function<SoundSettings(SoundSettings)> expected;
    };
    auto& o = *observed;
    const std::vector<Case> cases{
        {"speed", [&] { o.setSpeed(0.75F); }, [](SoundSettings s) { return s.withSpeed(0.75F); }},
        {"one gain", [&] { o.setEqualizerGainLevel(1, -6.0F); },
         [](SoundSettings s) {
             s.equalizerGainLevels.at(1) = -6.0F;
             return s;
         }},
        {"gain beyond", [&] { o.setEqualizerGainLevel(10, 3.0F); }, [](SoundSettings s) { return s; }},
        {"delay time", [&] { o.setDelayTime(0.2); },
         [](SoundSettings s) { return s.withDelay(s.delay.withTime(0.2)); }},
        {"no NaN", [&] { o.setSpeed(NAN); }, [](SoundSettings s) { return s; }},
        {"no infinity", [&] { o.setEqualizerGainLevel(0, -INFINITY); }, [](SoundSettings s) { return s; }},
        {"reset gains", [&] { o.resetEqualizerGainLevels(); },
         [](SoundSettings s) { return s.withEqualizerGainLevels(std::vector<float>(10, 0.0F)); }},
        {"preset", [&] { o.applyPreset(SoundSettings::Preset::slow); },
         [](SoundSettings) { return SoundSettings().withSpeed(0.5F); }},
        {"reset all", [&] { o.resetAllSoundSettings(); }, [](SoundSettings) { return SoundSettings(); }},
    };
    for (const auto& c : cases) {
        const auto before = current();
        c.edit();
        const auto expected = before.withSoundSettings(c.expected(before.soundSettings));
        // At once, before any publication has run.
        EXPECT_EQ(shown(o), expected.soundSettings) << c.name;
        EXPECT_EQ(flagsShown(o), flagsOf(expected.soundSettings)) << c.name;
        loop.runUntilIdle();
        EXPECT_EQ(current(), expected) << c.name;
        EXPECT_EQ(store->noisePlayerSettingsSubject()->currentValue(), expected) << c.name;
        EXPECT_EQ(shown(o), expected.soundSettings) << c.name;
    }
}

TEST_F(ObservableSoundSettingsTest, AnEditKeepsAChangeMadeElsewhereMeanwhile) {
    auto observed = MainActorObservableSoundSettings::make(store);
    loop.runUntilIdle();
    // Another writer changes the reverb; its publication has not reached the object yet.
    spawn([this]() -> asio::awaitable<void> {
        co_await store->update(
            [](NoisePlayerSettings s) { return s.withSoundSettings(s.soundSettings.withReverb(9.0F)); });
    });
    spawn([observed]() -> asio::awaitable<void> {
        observed->setPitch(12.0F);
        co_return;
    });
    loop.runUntilIdle();
    EXPECT_EQ(current().soundSettings, SoundSettings().withReverb(9.0F).withPitch(12.0F));
    EXPECT_EQ(shown(*observed), SoundSettings().withReverb(9.0F).withPitch(12.0F));
}

TEST_F(ObservableSoundSettingsTest, StopsFollowingOnceReleased) {
    auto observed = MainActorObservableSoundSettings::make(store);
    loop.runUntilIdle();
    const std::weak_ptr<MainActorObservableSoundSettings> weak = observed;
    observed.reset();
    EXPECT_TRUE(weak.expired());
    write(NoisePlayerSettings().withSoundSettings(SoundSettings().withSpeed(2.0F)));
    loop.runUntilIdle();
    EXPECT_EQ(store->noisePlayerSettingsSubject()->subscriberCount(), 0U);
}

} // namespace
} // namespace somnara
