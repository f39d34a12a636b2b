#include "PulseTestServer.hpp"
#include "unit/player/NoisePlayerFixture.hpp"

#include <somnara/linux/pulse/PulseAudioSession.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace somnara {
namespace {

using namespace std::chrono_literals;

// The default sink's volume and mute, set with pactl, reach the player through the process's volume
// observer: a mute is 0, and a start on a muted sink is reported.
TEST(SystemVolumeTest, TheSinksVolumeAndMuteReachThePlayer) {
    if (!test::pulseWanted()) {
        GTEST_SKIP() << test::noPulseMessage;
    }
    std::system("pactl set-default-sink out && pactl set-sink-volume out 100% && pactl set-sink-mute out 0");
    test::NoisePlayerHarness h;
    h.audioSession = makePulseAudioSession("somnara-test");
    h.start(test::NoisePlayerHarness::selecting({SoundTrack::rain}));
    const auto& volume = *h.volumeObserver->systemVolumeSubject();
    const struct {
        const char* command;
        float volume;
    } steps[] = {{"pactl set-sink-volume out 50%", 0.5F},
                 {"pactl set-sink-mute out 1", 0.0F},
                 {"pactl set-sink-mute out 0", 0.5F},
                 {"pactl set-sink-mute out 1", 0.0F}};
    for (const auto& step : steps) {
        ASSERT_EQ(std::system(step.command), 0) << step.command;
        EXPECT_TRUE(h.loop.runUntil([&] { return volume.currentValue() == step.volume; }, 3000ms))
            << step.command << ": " << volume.currentValue();
    }
    h.finish(h.player->play(false));
    EXPECT_EQ(h.eventNames(), std::vector<std::string>{"started_playback_with_volume_muted"});
    std::system("pactl set-sink-mute out 0 && pactl set-sink-volume out 100%");
}

} // namespace
} // namespace somnara
