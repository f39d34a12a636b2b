#include "support/TestLoop.hpp"

#include <somnara/platform/AudioOutput.hpp>
#include <somnara/player/AudioGraph.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using namespace somnara;
using ::testing::ElementsAre;

namespace {

class AudioGraphTest : public test::LoopTest {
protected:
    /// One value of every equaliser band, read with `get`.
    template <class T>
    std::vector<T> bands(T (AudioUnitEQFilterParameters::*get)() const noexcept) {
        std::vector<T> values;
        for (auto& band : graph.equalizer()->bands()) {
            values.push_back((band.*get)());
        }
        return values;
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
    }
}

// Each setting reaches its unit and switches it on; back at the defaults every unit but the reverb is
// bypassed again.
TEST_F(AudioGraphTest, SettingsReachTheirUnitsAndDefaultsBypassThem) {
    graph.configure({}, 44'100.0);
    auto gains = std::vector<float>(10, 0.0F);
    gains[3] = -6.0F;
    graph.applySoundSettings(SoundSettings{0.8F, 0.9F, 30.0F, gains, -300.0F, {}, {0.5, 30.0F, 20.0F}});
    const auto units = [this] {
        return std::vector<float>{graph.engine().mainMixerNode()->outputVolume(),
                                  graph.varispeed()->rate(),
                                  graph.timePitch()->pitch(),
                                  graph.reverb()->wetDryMix(),
                                  graph.delay()->delayTime(),
                                  graph.delay()->feedback(),
                                  graph.delay()->wetDryMix()};
    };
    const auto bypasses = [this] {
        return std::vector<bool>{graph.varispeed()->bypass(), graph.timePitch()->bypass(),
                                 graph.equalizer()->bypass(), graph.delay()->bypass(),
                                 graph.reverb()->bypass()};
    };
    EXPECT_EQ(units(), (std::vector<float>{0.8F, 0.9F, -300.0F, 30.0F, 0.5F, 30.0F, 20.0F}));
    EXPECT_EQ(bypasses(), std::vector<bool>(5, false));

    // Only the band with a gain is on, and the equaliser as a whole stays on.
    EXPECT_THAT(bands(&AudioUnitEQFilterParameters::gain), ElementsAre(0, 0, 0, -6, 0, 0, 0, 0, 0, 0));
    EXPECT_THAT(bands(&AudioUnitEQFilterParameters::bypass),
                ElementsAre(true, true, true, false, true, true, true, true, true, true));
    EXPECT_FALSE(graph.equalizer()->bypass());

    // Extra gains are ignored and short lists leave the rest alone.
    graph.applySoundSettings(
        SoundSettings::defaultValue().withEqualizerGainLevels(std::vector<float>(12, 3.0F)));
    EXPECT_THAT(bands(&AudioUnitEQFilterParameters::gain), ::testing::Each(3.0F));

    graph.applySoundSettings(SoundSettings::defaultValue().withEqualizerGainLevels({0.0F, -2.0F}));
    EXPECT_THAT(bands(&AudioUnitEQFilterParameters::gain), ElementsAre(0, -2, 3, 3, 3, 3, 3, 3, 3, 3));
    EXPECT_FALSE(graph.equalizer()->bypass());

    // One setting alone switches on only its unit.
    graph.applySoundSettings(SoundSettings::defaultValue().withPitch(100.0F));
    EXPECT_EQ(bypasses(), (std::vector<bool>{true, false, true, true, false}));
    graph.applySoundSettings(SoundSettings::defaultValue());
    EXPECT_EQ(bypasses(), (std::vector<bool>{true, true, true, true, false}));
    EXPECT_FLOAT_EQ(graph.reverb()->wetDryMix(), 0.0F);
    EXPECT_FLOAT_EQ(graph.engine().mainMixerNode()->outputVolume(), 1.0F);
}

} // namespace
