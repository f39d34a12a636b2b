#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/settings/MainActorObservableSoundSettings.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace somnara {
namespace {

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

/// The published values of the object, as one comparable record.
SoundSettings shown(const MainActorObservableSoundSettings& o) {
    return {o.appVolume(),
            o.speed(),
            o.reverb(),
            o.equalizerGainLevels(),
            o.pitch(),
            {o.oscillationRate(), o.oscillationStrength()},
            {o.delayTime(), o.delayFeedback(), o.delayMix()}};
}

// Each edit shows at once and writes one changed copy through the store, keeping the other settings;
// values that are not numbers and bands that do not exist change nothing.
TEST_F(ObservableSoundSettingsTest, EachEditWritesOneChangedCopyThroughTheStore) {
    auto observed = MainActorObservableSoundSettings::make(store);
    const auto others =
        NoisePlayerSettings().withSelectionMode(SelectionMode::multiple).withAudioAllowsMixWithOthers(true);
    write(others.withSoundSettings(SoundSettings().withReverb(10.0F)));
    EXPECT_EQ(shown(*observed), SoundSettings().withReverb(10.0F)) << "follows the store";
    EXPECT_FALSE(observed->isReverbDefault());

    using Edit = std::function<SoundSettings(SoundSettings)>;
    auto& o = *observed;
    const auto same = [](SoundSettings s) { return s; };
    const std::vector<std::pair<std::function<void()>, Edit>> cases{
        {[&] { o.setSpeed(0.75F); }, [](SoundSettings s) { return s.withSpeed(0.75F); }},
        {[&] { o.setEqualizerGainLevel(1, -6.0F); },
         [](SoundSettings s) {
             s.equalizerGainLevels.at(1) = -6.0F;
             return s;
         }},
        {[&] { o.setEqualizerGainLevel(10, 3.0F); }, same},
        {[&] { o.setDelayTime(0.2); }, [](SoundSettings s) { return s.withDelay(s.delay.withTime(0.2)); }},
        {[&] { o.setSpeed(NAN); }, same},
        {[&] { o.setEqualizerGainLevel(0, -INFINITY); }, same},
        {[&] { o.resetEqualizerGainLevels(); },
         [](SoundSettings s) { return s.withEqualizerGainLevels(std::vector<float>(10, 0.0F)); }},
        {[&] { o.applyPreset(SoundSettings::Preset::slow); },
         [](SoundSettings) { return SoundSettings().withSpeed(0.5F); }},
        {[&] { o.resetAllSoundSettings(); }, [](SoundSettings) { return SoundSettings(); }},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const auto before = current();
        cases[i].first();
        const auto expected = before.withSoundSettings(cases[i].second(before.soundSettings));
        // At once, before any publication has run.
        EXPECT_EQ(shown(o), expected.soundSettings);
        EXPECT_EQ(o.isSoundSettingsDefault(), expected.soundSettings.isDefault());
        loop.runUntilIdle();
        EXPECT_EQ(current(), expected);
        EXPECT_EQ(shown(o), expected.soundSettings);
    }
}

TEST_F(ObservableSoundSettingsTest, TellsObserversKeepsChangesMadeElsewhereAndStopsFollowingOnceReleased) {
    auto observed = MainActorObservableSoundSettings::make(store);
    loop.runUntilIdle();
    std::vector<float> speedsSeen;
    auto connection = observed->objectWillChange().connect([&] { speedsSeen.push_back(observed->speed()); });
    observed->setSpeed(1.5F);
    // Speed and two flags change; each is announced while the old speed still shows.
    EXPECT_EQ(speedsSeen, (std::vector<float>{1.0F, 1.0F, 1.0F}));
    observed->setSpeed(1.5F);
    loop.runUntilIdle();
    EXPECT_EQ(speedsSeen.size(), 3U) << "an unchanged value was announced";

    // An edit made before another writer's publication arrives keeps that writer's change.
    spawn([this]() -> asio::awaitable<void> {
        co_await store->update(
            [](NoisePlayerSettings s) { return s.withSoundSettings(s.soundSettings.withReverb(9.0F)); });
    });
    spawn([observed]() -> asio::awaitable<void> {
        observed->setPitch(12.0F);
        co_return;
    });
    loop.runUntilIdle();
    const auto both = SoundSettings().withSpeed(1.5F).withReverb(9.0F).withPitch(12.0F);
    EXPECT_EQ(current().soundSettings, both);
    EXPECT_EQ(shown(*observed), both);

    // Once released it stops following the store.
    connection.disconnect();
    const std::weak_ptr<MainActorObservableSoundSettings> weak = observed;
    observed.reset();
    EXPECT_TRUE(weak.expired());
    write(NoisePlayerSettings().withSoundSettings(SoundSettings().withSpeed(2.0F)));
    EXPECT_EQ(store->noisePlayerSettingsSubject()->subscriberCount(), 0U);
}

} // namespace
} // namespace somnara
