#include "support/TemporaryDirectory.hpp"

#include <somnara/linux/cairo/CairoImageRenderer.hpp>
#include <somnara/linux/mpris/MprisMediaPlayer.hpp>
#include <somnara/runtime/Loop.hpp>

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace somnara {
namespace {

using namespace std::chrono_literals;

struct CommandResult {
    int status = -1;
    std::string output;
};

/// Runs a `playerctl` command line against our player and returns its exit status and standard output
/// without the final newline.
CommandResult playerctl(const std::string& arguments) {
    CommandResult result;
    FILE* pipe = ::popen(("playerctl -p somnara " + arguments + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        result.output += buffer;
    }
    result.status = WEXITSTATUS(::pclose(pipe));
    if (!result.output.empty() && result.output.back() == '\n') {
        result.output.pop_back();
    }
    return result;
}

/// The names of the player's properties announced by PropertiesChanged, seen from another connection.
class PropertiesWatcher {
public:
    PropertiesWatcher()
        : proxy_(sdbus::createProxy(sdbus::createSessionBusConnection(), MprisMediaPlayer::busName,
                                    MprisMediaPlayer::objectPath)) {
        proxy_->uponSignal("PropertiesChanged")
            .onInterface("org.freedesktop.DBus.Properties")
            .call([this](const std::string& interface, const std::map<std::string, sdbus::Variant>& changed,
                         const std::vector<std::string>&) {
                const std::lock_guard lock(mutex_);
                for (const auto& [name, value] : changed) {
                    names_.push_back(interface + "." + name);
                }
            });
        proxy_->finishRegistration();
    }
    std::vector<std::string> names() const {
        const std::lock_guard lock(mutex_);
        return names_;
    }
    bool saw(const std::string& name) const {
        const auto all = names();
        return std::find(all.begin(), all.end(), "org.mpris.MediaPlayer2.Player." + name) != all.end();
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        names_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
    std::unique_ptr<sdbus::IProxy> proxy_;
};

class MprisTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr ||
            std::system("command -v playerctl >/dev/null") != 0) {
            GTEST_SKIP() << "no session bus or no playerctl: run under scripts/services.sh";
        }
        for (const auto command :
             {RemoteCommand::play, RemoteCommand::pause, RemoteCommand::togglePlayPause, RemoteCommand::stop,
              RemoteCommand::previousTrack, RemoteCommand::nextTrack}) {
            targets.push_back(commands.addTarget(command, [this](const RemoteCommandEvent& event) {
                received.push_back(event.command);
                return RemoteCommandHandlerStatus::success;
            }));
        }
        connection = sdbus::createSessionBusConnection();
        player =
            std::make_unique<MprisMediaPlayer>(*connection, center, commands, MprisMediaPlayer::Options{});
        connection->enterEventLoopAsync();
        watcher = std::make_unique<PropertiesWatcher>();
        loop.runUntilIdle();
    }
    void TearDown() override {
        if (connection) {
            watcher.reset();
            connection->leaveEventLoop();
            player.reset();
        }
    }

    /// Lets the loop announce what changed, and waits until the watcher has seen `property`.
    bool announced(const std::string& property) {
        return loop.runUntil([&] { return watcher->saw(property); }, 3000ms);
    }

    VirtualLoop loop;
    NowPlayingInfoCenter center;
    RemoteCommandCenter commands;
    std::vector<RemoteCommandCenter::TargetId> targets;
    std::vector<RemoteCommand> received;
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<MprisMediaPlayer> player;
    std::unique_ptr<PropertiesWatcher> watcher;
};

TEST_F(MprisTest, PlayerctlCommandsReachTheCommandCentre) {
    const std::pair<const char*, RemoteCommand> cases[] = {
        {"play", RemoteCommand::play},
        {"pause", RemoteCommand::pause},
        {"play-pause", RemoteCommand::togglePlayPause},
        {"stop", RemoteCommand::stop},
        {"next", RemoteCommand::nextTrack},
        {"previous", RemoteCommand::previousTrack},
    };
    for (const auto& [arguments, command] : cases) {
        const auto before = received.size();
        EXPECT_EQ(playerctl(arguments).status, 0) << arguments;
        ASSERT_TRUE(loop.runUntil([&] { return received.size() > before; }, 3000ms)) << arguments;
        EXPECT_EQ(received.back(), command) << arguments;
    }

    // A command without a target is not offered: playerctl refuses it, and the change was announced.
    commands.removeTarget(targets.back());
    EXPECT_TRUE(announced("CanGoNext"));
    EXPECT_EQ(playerctl("next").status, 1);
    EXPECT_EQ(playerctl("previous").status, 0);
}

TEST_F(MprisTest, StatusAndMetadataFollowTheNowPlayingCentre) {
    const struct {
        NowPlayingPlaybackState state;
        const char* status;
    } states[] = {{NowPlayingPlaybackState::playing, "Playing"},
                  {NowPlayingPlaybackState::interrupted, "Paused"},
                  {NowPlayingPlaybackState::stopped, "Stopped"},
                  {NowPlayingPlaybackState::paused, "Paused"}};
    for (const auto& [state, status] : states) {
        watcher->clear();
        center.setPlaybackState(state);
        EXPECT_TRUE(announced("PlaybackStatus")) << status;
        EXPECT_EQ(playerctl("status").output, status);
    }

    test::TemporaryDirectory cache{"somnara-mpris"};
    CairoImageRenderer renderer(
        cache.path(), std::filesystem::path(SOMNARA_SOURCE_DIR) / "resources/NowPlaying/Artwork.json",
        [] { return Appearance::light; });
    const auto png = renderer.render(200, 200, Appearance::light, {{"rain", 50, 50}});
    const std::string format =
        "--format '{{xesam:title}}|{{xesam:artist}}|{{mpris:artUrl}}|{{mpris:length}}' metadata";

    watcher->clear();
    NowPlayingInfo info;
    info.title = "Rain & Waves";
    info.playbackDuration = 1800.5;
    info.artwork = NowPlayingArtwork{200, 200, png};
    center.setNowPlayingInfo(info);
    ASSERT_TRUE(announced("Metadata"));
    const auto withTimer = playerctl(format).output;
    EXPECT_EQ(withTimer, "Rain & Waves|Somnara|file://" + png.string() + "|1800500000");
    EXPECT_TRUE(std::filesystem::exists(png));

    watcher->clear();
    info.playbackDuration.reset();
    center.setNowPlayingInfo(info);
    ASSERT_TRUE(announced("Metadata"));
    EXPECT_EQ(playerctl(format).output, "Rain & Waves|Somnara|file://" + png.string() + "|");
}

TEST_F(MprisTest, ASecondInstanceDoesNotTakeTheName) {
    auto second = sdbus::createSessionBusConnection();
    NowPlayingInfoCenter otherCenter;
    EXPECT_THROW(MprisMediaPlayer(*second, otherCenter, commands, {}), MprisNameTakenError);
    center.setPlaybackState(NowPlayingPlaybackState::playing);
    EXPECT_TRUE(announced("PlaybackStatus"));
    EXPECT_EQ(playerctl("status").output, "Playing") << "the first instance still answers";
}

} // namespace
} // namespace somnara
