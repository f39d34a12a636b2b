// The player rendered offline on the test's clock: each 10 ms of time moved is 10 ms of audio rendered,
// so the fades land where real playback puts them, and the levels are measured on what comes out.

#include "unit/player/NoisePlayerFixture.hpp"

#include <span>

namespace somnara::test {
namespace {

constexpr double rate = 44'100;
constexpr std::size_t block = 441;
const SoundTrack rain = SoundTrack::rain;
const SoundTrack waves = SoundTrack::waves;

std::span<const float> window(const std::vector<float>& audio, double from, double length) {
    return std::span<const float>(audio).subspan(static_cast<std::size_t>(from * rate),
                                                 static_cast<std::size_t>(length * rate));
}

class RenderHarness : public NoisePlayerHarness {
public:
    /// Starts the player on an offline output, with `tones` playing sines instead of noise and no
    /// start fade, so that levels are full from the first block.
    void startOffline(NoisePlayerSettings stored,
                      const std::vector<std::pair<SoundTrack, double>>& tones = {}) {
        for (const auto& [soundTrack, frequency] : tones) {
            auto sine = makeSine(frequency, rate, 4'410, 0.5);
            addFile(soundTrack, {sine, sine});
        }
        stored.fadeTiming.start = 0;
        start(stored, [](double sampleRate) -> std::shared_ptr<AudioOutput> {
            AudioOutputConfiguration configuration;
            configuration.sampleRate = sampleRate;
            return AudioOutput::make("offline", configuration);
        });
    }

    /// Renders `seconds` of audio while the clock moves with it; returns the left channel.
    std::vector<float> render(double seconds) {
        std::vector<float> left;
        std::vector<float> right(block);
        const auto blocks = static_cast<std::size_t>(std::lround(seconds * rate / block));
        for (std::size_t index = 0; index < blocks; ++index) {
            left.resize(left.size() + block);
            if (player->engine().isRunning()) {
                player->engine().renderOffline(left.data() + left.size() - block, right.data(), block);
            }
            loop.advance(Seconds{block / rate});
        }
        return left;
    }
};

TEST(NoisePlayerRender, ASleepTimerHoldsTheLevelThenFadesLinearlyToSilence) {
    RenderHarness t;
    NoisePlayerSettings stored = NoisePlayerHarness::selecting({rain});
    stored.fadeTiming.sleepEnd = 15;
    t.startOffline(stored);
    auto timer = t.player->startSleepTimer(60);
    const auto audio = t.render(62);
    const double full = rms(window(audio, 5, 40));
    ASSERT_GT(full, 0.05);
    for (int second = 1; second < 45; ++second) {
        EXPECT_NEAR(rms(window(audio, second, 1)) / full, 1.0, 0.03) << "second " << second;
    }
    // Over second k of the fade the gain falls from (60 - k) / 15 to (59 - k) / 15: its RMS is the
    // root of the mean of the squared ramp.
    for (int second = 45; second < 60; ++second) {
        const double a = (60.0 - second) / 15.0;
        const double b = (59.0 - second) / 15.0;
        const double expected = std::sqrt((a * a + a * b + b * b) / 3.0);
        EXPECT_NEAR(rms(window(audio, second, 1)) / full, expected, 0.03) << "second " << second;
    }
    EXPECT_LT(rms(window(audio, 60.05, 1.9)), 1e-6);
    EXPECT_EQ(t.player->state(), NoisePlayerState::stopped());
}

// A single-mode switch cross-fades: the old sound falls as the new one rises, their gains summing to one;
// an added sound in multiple mode rises over the add fade alone.
TEST(NoisePlayerRender, SelectionChangesFadeOnTheirOwnTimes) {
    struct Case {
        const char* name;
        SelectionMode mode;
        double fade;
        double oldGainAtEnd;
    };
    for (const auto& c :
         {Case{"swap", SelectionMode::single, 2.5, 0.0}, Case{"add", SelectionMode::multiple, 1.0, 1.0}}) {
        SCOPED_TRACE(c.name);
        RenderHarness t;
        t.startOffline(NoisePlayerHarness::selecting({rain}, c.mode), {{rain, 440}, {waves, 1'100}});
        auto play = t.player->play(false);
        t.render(1);
        auto add = spawn([&t]() { return t.collection->add(waves); });
        const auto audio = t.render(c.fade + 1);
        for (double at = 0.1; at < c.fade; at += c.fade / 5) {
            const double progress = at / c.fade;
            const double rising = toneAmplitude(window(audio, at - 0.05, 0.1), 1'100, rate) / 0.5;
            const double falling = toneAmplitude(window(audio, at - 0.05, 0.1), 440, rate) / 0.5;
            EXPECT_NEAR(rising, progress, 0.05) << at;
            EXPECT_NEAR(falling, 1.0 - progress * (1.0 - c.oldGainAtEnd), 0.05) << at;
        }
        EXPECT_NEAR(toneAmplitude(window(audio, c.fade + 0.2, 0.5), 1'100, rate), 0.5, 0.01);
        EXPECT_NEAR(toneAmplitude(window(audio, c.fade + 0.2, 0.5), 440, rate), 0.5 * c.oldGainAtEnd, 0.01);
    }
}

} // namespace
} // namespace somnara::test
