// The noise player on a real PulseAudio server (scripts/services.sh: null sinks "out" and "out2" and
// module-role-cork), its output recorded from the sink's monitor. The test's clock follows the wall
// clock here, so that the player's fades take the time the sound server hears them take.

#include "PulseTestServer.hpp"
#include "unit/player/NoisePlayerFixture.hpp"

#include <somnara/linux/pulse/PulseAudioOutput.hpp>
#include <somnara/linux/pulse/PulseAudioSession.hpp>

#include <chrono>

namespace somnara::test {
namespace {

using namespace std::chrono_literals;
constexpr double rate = 44'100;

class PulseHarness : public NoisePlayerHarness {
public:
    PulseHarness() {
        registerPulseAudioOutput();
        audioSession = makePulseAudioSession("somnara-test");
    }
    ~PulseHarness() {
        if (player) {
            finish(player->stopEngine());
        }
    }

    void startOnPulse(NoisePlayerSettings stored) {
        stored.fadeTiming.start = 0.1;
        auto sine = makeSine(441, rate, 4'410, 0.5);
        addFile(SoundTrack::rain, {sine, sine});
        start(stored, [](double sampleRate) -> std::shared_ptr<AudioOutput> {
            AudioOutputConfiguration configuration;
            configuration.sampleRate = sampleRate;
            configuration.applicationName = "somnara-test";
            configuration.latency = 0.05;
            return AudioOutput::make("pulse", configuration);
        });
    }

    /// Runs the loop for `seconds` of wall time, its clock following.
    void live(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        auto last = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < end) {
            loop.runUntil([] { return false; }, 5ms);
            const auto now = std::chrono::steady_clock::now();
            loop.advance(now - last);
            last = now;
        }
    }
    bool liveUntil(const std::function<bool()>& done, double seconds) {
        for (double waited = 0; waited < seconds; waited += 0.05) {
            if (done()) {
                return true;
            }
            live(0.05);
        }
        return done();
    }
};

/// The level of each 50 ms of `audio`.
std::vector<double> levels(const std::vector<float>& audio) {
    std::vector<double> result;
    const std::size_t window = static_cast<std::size_t>(0.05 * rate);
    for (std::size_t start = 0; start + window <= audio.size(); start += window) {
        result.push_back(rms(std::span<const float>(audio).subspan(start, window)));
    }
    return result;
}

// A phone call pauses us and its end brings us back with the resume fade, unless we mix with others.
TEST(NoisePlayerOnPulseAudio, APhoneCallInterruptsUnlessMixingWithOthers) {
    if (!pulseWanted()) {
        GTEST_SKIP() << noPulseMessage;
    }
    for (const bool mixWithOthers : {false, true}) {
        SCOPED_TRACE(mixWithOthers ? "mixing with others" : "long-form audio");
        PulseHarness t;
        t.startOnPulse(
            NoisePlayerHarness::selecting({SoundTrack::rain}).withAudioAllowsMixWithOthers(mixWithOthers));
        auto play = t.player->play(false);
        ASSERT_TRUE(t.liveUntil([&] { return play.isFinished(); }, 5));
        t.live(0.5);
        MonitorRecorder recorder;
        ASSERT_TRUE(recorder.error().empty()) << recorder.error();
        t.live(0.5);
        {
            PhoneCall call;
            ASSERT_TRUE(t.liveUntil([] { return phoneIsListed(); }, 3));
            t.live(1.0);
            EXPECT_EQ(t.player->state(),
                      mixWithOthers ? NoisePlayerState::playing() : NoisePlayerState::interrupted());
        }
        ASSERT_TRUE(t.liveUntil([] { return !phoneIsListed(); }, 3));
        t.live(1.0);
        EXPECT_EQ(t.player->state(), NoisePlayerState::playing());
        t.live(8.0);
        const auto level = levels(recorder.left(0, 8));
        const double full = *std::max_element(level.begin(), level.end());
        ASSERT_GT(full, 0.1);
        const auto silent =
            std::count_if(level.begin(), level.end(), [&](double l) { return l < 0.01 * full; });
        if (mixWithOthers) {
            EXPECT_EQ(silent, 0);
            continue;
        }
        EXPECT_GT(silent, 10) << "a second of the call is silent";
        // After the call the sound comes back over the half-second resume fade: neither at once nor
        // later than the fade.
        const auto quiet =
            std::find_if(level.begin(), level.end(), [&](double l) { return l < 0.01 * full; });
        const auto back = std::find_if(quiet, level.end(), [&](double l) { return l > 0.05 * full; });
        ASSERT_NE(back, level.end());
        const auto full90 = std::find_if(back, level.end(), [&](double l) { return l > 0.9 * full; });
        const auto rise = std::distance(back, full90);
        EXPECT_GE(rise, 5) << "rose in " << rise * 50 << " ms";
        EXPECT_LE(rise, 14) << "rose in " << rise * 50 << " ms";
        EXPECT_GE(t.count("Should resume"), 1U);
    }
}

} // namespace
} // namespace somnara::test
