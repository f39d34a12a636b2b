#include "support/MemoryAudioFile.hpp"
#include "support/SignalMeasurements.hpp"
#include "support/TemporaryDirectory.hpp"
#include "unit/selection/CollectionFixture.hpp"

#include <somnara/foundation/Bundle.hpp>
#include <somnara/player/NoisePlayer.hpp>
#include <somnara/system/CommandCenterHandler.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace somnara {
namespace {

/// A session that can refuse to activate, so that a start fails.
class RefusingSession final : public AudioSession {
public:
    bool refuses = false;

    void setCategory(RouteSharingPolicy, bool) override {}
    void setActive(bool active) override {
        if (active && refuses) {
            throw std::system_error(std::make_error_code(std::errc::connection_refused), "no sound server");
        }
    }
    AudioSessionRouteDescription currentRoute() const override { return {}; }
    float outputVolume() const override { return 1.0F; }
};

/// What the handler sent: the event's name and its "sound_track".
struct Sent {
    std::string name;
    std::string soundTracks;
    friend bool operator==(const Sent&, const Sent&) = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& sent) {
    return out << sent.name << "(" << sent.soundTracks << ")";
}

class CommandCenterHandlerTest : public test::CollectionTest {
protected:
    /// A player over memory files of `selection`, in `mode`, and a handler on a centre of its own.
    void startPlayer(SoundTrackSet selection, SelectionMode mode) {
        for (const auto track : SoundTrack::allCases()) {
            auto left = test::makeNoise(4410, 0.5, static_cast<unsigned long long>(track.rawValue()) + 1);
            files[bundle.path() / AudioFileFactory::bundleSubdirectory /
                  (std::string(track.fileName()) + ".m4a")] =
                std::make_shared<test::MemoryAudioFile>(std::vector<std::vector<float>>{left, left}, 44'100,
                                                        std::string(track.fileName()) + ".m4a");
        }
        for (const auto& [path, file] : files) {
            std::filesystem::create_directories(path.parent_path());
            std::ofstream{path} << "m4a";
        }
        start(storedSelection(std::move(selection), mode));
        auto fileFactory = std::make_shared<AudioFileFactory>(
            lossless.path(), Bundle(bundle.path()),
            [this](const std::filesystem::path& path) { return files.at(path); });
        NoisePlayer::Platform platform;
        platform.session = session;
        platform.nowPlayingInfoCenter = &nowPlaying;
        player = NoisePlayer::make(settingsStore, collection, fileFactory,
                                   std::make_shared<NowPlayingImageFactory>(nullptr),
                                   SystemVolumeObserver::make(session), platform);
        handler = std::make_unique<CommandCenterHandler>(player, collection, settingsStore, center);
        loop.runUntilIdle();
    }

    std::vector<Sent> sent() const {
        std::vector<Sent> found;
        for (const auto& event : events) {
            found.push_back(
                {event.name,
                 event.parameters.value_or(nlohmann::json::object()).value("sound_track", std::string("-"))});
        }
        return found;
    }

    void run(const Task<void>& task) {
        test::CollectionTest::run([task]() -> asio::awaitable<void> { co_await task.value(); });
    }

    test::TemporaryDirectory bundle;
    test::TemporaryDirectory lossless;
    std::map<std::filesystem::path, std::shared_ptr<AudioFile>> files;
    std::shared_ptr<RefusingSession> session = std::make_shared<RefusingSession>();
    NowPlayingInfoCenter nowPlaying;
    RemoteCommandCenter center;
    std::shared_ptr<NoisePlayer> player;
    std::unique_ptr<CommandCenterHandler> handler;
};

// The player's state is read when the command's task runs; commands in the wrong state do nothing and
// send nothing; every command is answered with success before its work is done, even when it fails.
TEST_F(CommandCenterHandlerTest, CommandsActOnTheStateTheirTaskFinds) {
    using Case = NoisePlayerState::Case;
    struct Row {
        const char* name;
        std::function<void(CommandCenterHandlerTest&)> arrange;
        RemoteCommand command;
        Case stateAfterwards;
        std::vector<const char*> events;
    };
    const auto playing = [](CommandCenterHandlerTest& t) {
        t.run(t.player->play(false));
    };
    const auto stopping = [playing](CommandCenterHandlerTest& t) {
        playing(t);
        auto stop = t.player->stop(5.0);
        t.loop.runUntilIdle();
    };
    const auto fadingToSleep = [playing](CommandCenterHandlerTest& t) {
        playing(t);
        auto fade = t.player->startSleepFadeOut(5.0);
        t.loop.runUntilIdle();
    };
    const auto interrupted = [playing](CommandCenterHandlerTest& t) {
        playing(t);
        t.run(t.player->pause());
    };
    const auto stopped = [](CommandCenterHandlerTest&) {
    };
    const auto refusing = [](CommandCenterHandlerTest& t) {
        t.session->refuses = true;
    };
    const Row rows[] = {
        {"play while playing", playing, RemoteCommand::play, Case::playing, {}},
        {"play while stopping", stopping, RemoteCommand::play, Case::stopping, {}},
        {"play during the sleep fade", fadingToSleep, RemoteCommand::play, Case::sleepFadeOut, {}},
        {"play while interrupted", interrupted, RemoteCommand::play, Case::interrupted, {}},
        {"play while stopped", stopped, RemoteCommand::play, Case::playing, {"noise_started"}},
        {"play that fails", refusing, RemoteCommand::play, Case::stopped, {}},
        {"pause while stopped", stopped, RemoteCommand::pause, Case::playing, {"noise_started"}},
        {"pause while playing", playing, RemoteCommand::pause, Case::stopping, {"noise_stopped"}},
        {"toggle during the sleep fade",
         fadingToSleep,
         RemoteCommand::togglePlayPause,
         Case::stopping,
         {"noise_stopped"}},
        {"toggle while stopping", stopping, RemoteCommand::togglePlayPause, Case::playing, {"noise_started"}},
        {"stop during the sleep fade", fadingToSleep, RemoteCommand::stop, Case::sleepFadeOut, {}},
        {"stop while playing", playing, RemoteCommand::stop, Case::stopping, {"noise_stopped"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        handler.reset();
        player.reset();
        loop.runUntilIdle();
        startPlayer({SoundTrack::whiteNoise, SoundTrack::fan}, SelectionMode::multiple);
        row.arrange(*this);
        events.clear();
        EXPECT_EQ(center.perform(row.command), RemoteCommandHandlerStatus::success);
        loop.runUntilIdle();
        EXPECT_EQ(player->state().kind(), row.stateAfterwards);
        std::vector<Sent> expected;
        for (const std::string name : row.events) {
            // Identifiers in plain string order: not by display name ("Brown Noise") nor raw value.
            expected.push_back({name, "fan:whiteNoise"});
            if (name == "noise_stopped") {
                // A stop from a command fades over the settings' stop time, then reports.
                EXPECT_EQ(player->state(), NoisePlayerState::stopping(NoisePlayerSettings{}.fadeTiming.stop));
            }
        }
        loop.advance(Seconds(1));
        EXPECT_EQ(sent(), expected);
    }
}

TEST_F(CommandCenterHandlerTest, NextAndPreviousReportTheSelectionTheyMade) {
    startPlayer({SoundTrack::rain}, SelectionMode::single);
    for (const auto command : {RemoteCommand::nextTrack, RemoteCommand::previousTrack}) {
        const auto before = collection->selectedSoundTracks();
        events.clear();
        EXPECT_EQ(center.perform(command), RemoteCommandHandlerStatus::success);
        loop.runUntilIdle();
        ASSERT_EQ(collection->selectedSoundTracks().size(), 1U);
        const auto now = *collection->selectedSoundTracks().begin();
        EXPECT_NE(collection->selectedSoundTracks(), before);
        EXPECT_EQ(sent(),
                  (std::vector<Sent>{{command == RemoteCommand::nextTrack ? "next_soundtrack_selected"
                                                                          : "previous_soundtrack_selected",
                                      std::string(now.identifier())}}));
    }
}

} // namespace
} // namespace somnara
