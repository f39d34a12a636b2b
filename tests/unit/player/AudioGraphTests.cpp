#include "support/TestLoop.hpp"

#include <somnara/platform/AudioOutput.hpp>
#include <somnara/player/AudioGraph.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace somnara;
using ::testing::ElementsAre;
using ::testing::FloatNear;

namespace {

class AudioGraphTest : public test::LoopTest {
protected:
    std::vector<float> bandGains() {
        std::vector<float> gains;
        for (auto& band : graph.equalizer()->bands()) {
            gains.push_back(band.gain());
        }
        return gains;
    }

    std::vector<bool> bandBypasses() {
        std::vector<bool> bypasses;
        for (auto& band : graph.equalizer()->bands()) {
            bypasses.push_back(band.bypass());
        }
        return bypasses;
    }

    AudioGraph graph{std::make_shared<AudioEngine>(AudioOutput::make("offline", {}))};
};

// Ten bands from 20 Hz, evenly spaced up to a tenth below half the lowest file rate, or else the engine's.
TEST_F(AudioGraphTest, ConfigurationLaysTheBandsOutForTheFilesOrElseForTheEngine) {
    for (const auto& [rate, second, last] : {std::tuple{std::optional(48'000.0), 2418.0, 21602.0},
                                             std::tuple{std::optional<double>(), 2223.0, 19847.0}}) {
        AudioGraph configured{std::make_shared<AudioEngine>(AudioOutput::make("offline", {}))};
        configured.configure({}, rate);
        auto& bands = configured.equalizer()->bands();
        EXPECT_NEAR(bands[0].frequency(), 20, 0.5);
        EXPECT_NEAR(bands[1].frequency(), second, 0.5);
        EXPECT_NEAR(bands[9].frequency(), last, 0.5);
        for (auto& band : bands) {
            EXPECT_EQ(band.filterType(), AudioUnitEQFilterType::parametric);
            EXPECT_FLOAT_EQ(band.bandwidth(), 0.1F);
        }
    }
}

TEST_F(AudioGraphTest, DefaultSettingsBypassEveryUnitButTheReverb) {
    graph.configure({}, 44'100.0);
    graph.applySoundSettings(SoundSettings::soundSettings(SoundSettings::Preset::echo));
    graph.applySoundSettings(SoundSettings::defaultValue());

    EXPECT_TRUE(graph.varispeed()->bypass());
    EXPECT_TRUE(graph.timePitch()->bypass());
    EXPECT_TRUE(graph.equalizer()->bypass());
    EXPECT_TRUE(graph.delay()->bypass());
    EXPECT_FALSE(graph.reverb()->bypass());
    EXPECT_FLOAT_EQ(graph.reverb()->wetDryMix(), 0.0F);
    EXPECT_FLOAT_EQ(graph.engine().mainMixerNode()->outputVolume(), 1.0F);
}

TEST_F(AudioGraphTest, SettingsPassToTheUnitsUnchanged) {
    graph.configure({}, 44'100.0);
    auto gains = std::vector<float>(10, 0.0F);
    gains[3] = -6.0F;
    const auto settings = SoundSettings::defaultValue()
                              .withVolume(0.8F)
                              .withSpeed(0.9F)
                              .withPitch(-300.0F)
                              .withReverb(30.0F)
                              .withEqualizerGainLevels(gains)
                              .withDelay({.time = 0.5, .feedback = 30.0F, .mix = 20.0F});
    graph.applySoundSettings(settings);

    EXPECT_FLOAT_EQ(graph.engine().mainMixerNode()->outputVolume(), 0.8F);
    EXPECT_FLOAT_EQ(graph.varispeed()->rate(), 0.9F);
    EXPECT_FALSE(graph.varispeed()->bypass());
    EXPECT_FLOAT_EQ(graph.timePitch()->pitch(), -300.0F);
    EXPECT_FALSE(graph.timePitch()->bypass());
    EXPECT_FLOAT_EQ(graph.reverb()->wetDryMix(), 30.0F);
    EXPECT_FLOAT_EQ(graph.delay()->delayTime(), 0.5F);
    EXPECT_FLOAT_EQ(graph.delay()->feedback(), 30.0F);
    EXPECT_FLOAT_EQ(graph.delay()->wetDryMix(), 20.0F);
    EXPECT_FALSE(graph.delay()->bypass());

    // Only the band with a gain is on, and the equaliser as a whole stays on.
    EXPECT_THAT(bandGains(), ElementsAre(0, 0, 0, -6, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(bandBypasses(), ElementsAre(true, true, true, false, true, true, true, true, true, true));
    EXPECT_FALSE(graph.equalizer()->bypass());

    // Extra gains are ignored and short lists leave the rest alone.
    graph.applySoundSettings(
        SoundSettings::defaultValue().withEqualizerGainLevels(std::vector<float>(12, 3.0F)));
    EXPECT_THAT(bandGains(), ::testing::Each(3.0F));

    graph.applySoundSettings(SoundSettings::defaultValue().withEqualizerGainLevels({0.0F, -2.0F}));
    EXPECT_THAT(bandGains(), ElementsAre(0, -2, 3, 3, 3, 3, 3, 3, 3, 3));
    EXPECT_FALSE(graph.equalizer()->bypass());
}

} // namespace
