#include "integration/linux_pulse/PulseTestServer.hpp"
#include "unit/player/NoisePlayerFixture.hpp"

#include <somnara/linux/cairo/CairoImageRenderer.hpp>
#include <somnara/linux/mpris/MprisMediaPlayer.hpp>
#include <somnara/system/CommandCenterHandler.hpp>

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace somnara {
namespace {

using namespace std::chrono_literals;

/// What playerctl answers about our player, without the final newline.
std::string ask(const std::string& arguments) {
    auto text = test::shellOutput("playerctl -p somnara " + arguments + " 2>/dev/null");
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

/// playerctl's exit status for a command to our player.
int tell(const std::string& command) {
    return WEXITSTATUS(std::system(("playerctl -p somnara " + command + " >/dev/null 2>&1").c_str()));
}

/// The player's properties announced by PropertiesChanged, seen from a connection of its own.
class PropertiesWatcher {
public:
    PropertiesWatcher()
        : proxy_(sdbus::createProxy(sdbus::createSessionBusConnection(), MprisMediaPlayer::busName,
                                    MprisMediaPlayer::objectPath)) {
        proxy_->uponSignal("PropertiesChanged")
            .onInterface("org.freedesktop.DBus.Properties")
            .call([this](const std::string&, const std::map<std::string, sdbus::Variant>& changed,
                         const std::vector<std::string>&) {
                const std::lock_guard lock(mutex_);
                for (const auto& [name, value] : changed) {
                    names_.insert(name);
                }
            });
        proxy_->finishRegistration();
    }
    /// Takes the names seen so far.
    std::set<std::string> take() {
        const std::lock_guard lock(mutex_);
        return std::exchange(names_, {});
    }

private:
    std::mutex mutex_;
    std::set<std::string> names_;
    std::unique_ptr<sdbus::IProxy> proxy_;
};

/// The daemon's remote control as the app wires it: player, command handler, artwork drawn with Cairo
/// into a cache folder, and the media controls on the session bus.
class MprisTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr ||
            std::system("command -v playerctl >/dev/null") != 0) {
            GTEST_SKIP() << "no session bus or no playerctl: run under scripts/services.sh";
        }
        auto renderer = std::make_shared<CairoImageRenderer>(
            cache.path(), std::filesystem::path(SOMNARA_SOURCE_DIR) / "resources/NowPlaying/Artwork.json",
            [] { return Appearance::light; });
        renderer->removeUnreferencedImages(h.center);
        h.imageRenderer = renderer;
        h.start(test::NoisePlayerHarness::selecting({SoundTrack::rain}, SelectionMode::single));
        handler = std::make_unique<CommandCenterHandler>(h.player, h.collection, h.settingsStore, commands);
        connection = sdbus::createSessionBusConnection();
        mpris =
            std::make_unique<MprisMediaPlayer>(*connection, h.center, commands, MprisMediaPlayer::Options{});
        connection->enterEventLoopAsync();
        watcher = std::make_unique<PropertiesWatcher>();
        h.loop.runUntilIdle();
    }
    void TearDown() override {
        if (connection) {
            connection->leaveEventLoop();
            mpris.reset();
            handler.reset();
        }
    }

    /// The metadata playerctl reads: title, artist, art URL and length.
    static std::vector<std::string> metadata() {
        const auto text =
            ask("--format '{{xesam:title}}|{{xesam:artist}}|{{mpris:artUrl}}|{{mpris:length}}' metadata");
        std::vector<std::string> fields;
        std::istringstream stream(text + '|');
        for (std::string field; std::getline(stream, field, '|');) {
            fields.push_back(field);
        }
        return fields;
    }

    test::TemporaryDirectory cache{"somnara-artwork"};
    test::NoisePlayerHarness h;
    RemoteCommandCenter commands;
    std::unique_ptr<CommandCenterHandler> handler;
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<MprisMediaPlayer> mpris;
    std::unique_ptr<PropertiesWatcher> watcher;
};

TEST_F(MprisTest, PlayerctlDrivesThePlayerAndReadsWhatItShows) {
    // A second instance does not take the name from the first, which still answers.
    auto second = sdbus::createSessionBusConnection();
    NowPlayingInfoCenter otherCenter;
    EXPECT_THROW(MprisMediaPlayer(*second, otherCenter, commands, {}), MprisNameTakenError);
    EXPECT_EQ(ask("status"), "Stopped");

    const auto commandsHandled = [] { return test::NoisePlayerHarness::count("Command center: "); };
    const struct {
        const char* command;
        NoisePlayerState::Case state;
        const char* status;
        std::set<std::string> announced;
    } steps[] = {
        {"play", NoisePlayerState::Case::playing, "Playing", {"PlaybackStatus", "Metadata"}},
        {"pause", NoisePlayerState::Case::stopped, "Stopped", {"PlaybackStatus", "Metadata"}},
        {"play-pause", NoisePlayerState::Case::playing, "Playing", {"PlaybackStatus", "Metadata"}},
        {"next", NoisePlayerState::Case::playing, "Playing", {"Metadata"}},
        {"previous", NoisePlayerState::Case::playing, "Playing", {"Metadata"}},
        {"stop", NoisePlayerState::Case::stopped, "Stopped", {"PlaybackStatus", "Metadata"}},
    };
    std::filesystem::path shownBefore;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.command);
        const auto handled = commandsHandled();
        watcher->take();
        ASSERT_EQ(tell(step.command), 0);
        ASSERT_TRUE(h.loop.runUntil([&] { return commandsHandled() > handled; }, 3000ms));
        h.wait(5.0);
        EXPECT_EQ(h.player->state().kind(), step.state);
        EXPECT_EQ(ask("status"), step.status);
        std::set<std::string> announced;
        EXPECT_TRUE(h.loop.runUntil(
            [&] {
                announced.merge(watcher->take());
                return announced == step.announced;
            },
            3000ms));

        // The title is the selection's name; the art is a PNG of this selection, and the one it
        // replaced is gone.
        const auto fields = metadata();
        ASSERT_EQ(fields.size(), 4U);
        EXPECT_EQ(fields[0], h.collection->selectedSoundTracks().begin()->name());
        EXPECT_EQ(fields[1], "Somnara");
        ASSERT_TRUE(fields[2].starts_with("file://" + cache.path().string() + "/"));
        const std::filesystem::path shown = fields[2].substr(7);
        EXPECT_TRUE(std::filesystem::exists(shown));
        if (shown != shownBefore && !shownBefore.empty()) {
            EXPECT_FALSE(std::filesystem::exists(shownBefore));
        }
        shownBefore = shown;
        EXPECT_EQ(fields[3], "");
    }

    // While a sleep timer runs the track's length is the time left, in microseconds.
    h.finish(h.player->play(false));
    h.finish(h.player->startSleepTimer(600));
    h.loop.runUntil([&] { return watcher->take().contains("Metadata"); }, 3000ms);
    const auto length = std::stoll(metadata().at(3));
    EXPECT_GT(length, 590'000'000);
    EXPECT_LE(length, 600'000'000);

    // An interruption pauses: the controls show it as paused.
    h.finish(h.player->pause());
    EXPECT_TRUE(h.loop.runUntil([&] { return ask("status") == "Paused"; }, 3000ms));

    // Without the handler's targets the controls offer no command, and playerctl refuses them.
    handler.reset();
    h.loop.runUntilIdle();
    EXPECT_TRUE(h.loop.runUntil([&] { return watcher->take().contains("CanPlay"); }, 3000ms));
    EXPECT_EQ(tell("play"), 1);
}

} // namespace
} // namespace somnara
