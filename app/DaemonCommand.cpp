#include "BusConnection.hpp"
#include "BusService.hpp"
#include "Commands.hpp"
#include "Daemon.hpp"
#include "SomnaraBus.hpp"
#include "SyncFolder.hpp"

#include <somnara/linux/mpris/MprisMediaPlayer.hpp>
#include <somnara/linux/pulse/PulseAudioOutput.hpp>
#include <somnara/linux/pulse/PulseAudioSession.hpp>
#include <somnara/platform/AudioSession.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/platform/UserDefaults.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <asio/signal_set.hpp>
#include <asio/use_awaitable.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include <csignal>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace somnara::app {

namespace {

/// The standard user defaults' switch for the analytics log, and the log's file in the documents
/// directory: analytics stay in memory unless the user asks for them.
constexpr const char* analyticsLogKey = "analytics_log";
constexpr const char* analyticsLogFile = "analytics.jsonl";

struct DaemonOptions {
    bool verbose = false;
    std::string device;
    SyncFolderOption syncFolder;
};

/// Claims the daemon's name on the session bus: a second daemon must give up before it reads a file.
std::shared_ptr<BusConnection> claimName() {
    try {
        return std::make_shared<BusConnection>(Loop::current(), bus::name);
    } catch (const sdbus::Error& error) {
        if (error.getName() == "org.freedesktop.DBus.Error.FileExists" ||
            error.getName() == "System.Error.EEXIST") {
            throw std::runtime_error(std::string("another somnara daemon is already running (") + bus::name +
                                     " has an owner on this session bus)");
        }
        throw std::runtime_error("cannot serve on the session bus: " + error.getMessage());
    }
}

/// Serves the bus until a signal comes or the bus goes away. The bus objects end here, while the loop
/// is there to cancel their waits; the daemon lives on.
asio::awaitable<void> serve(const DaemonOptions& options, std::shared_ptr<BusConnection> connection,
                            std::shared_ptr<Daemon> daemon) {
    if (UserDefaults::standard()->boolValue(analyticsLogKey)) {
        ZelAnalyticsLogger::shared().setLogFile(
            FileLocations::shared()->requireDocumentsDirectory(__FILE__, __LINE__) / analyticsLogFile);
    }

    co_await daemon->start(options.device);
    BusService service(connection, daemon);
    // The system's media controls, beside our interface: they show the now-playing information and
    // deliver the remote commands to the daemon's handler.
    std::optional<MprisMediaPlayer> mediaControls;
    try {
        MprisMediaPlayer::Options mediaOptions;
        mediaOptions.sent = [weak = std::weak_ptr(connection)] {
            if (const auto bus = weak.lock()) {
                bus->flush();
            }
        };
        mediaControls.emplace(connection->connection(), NowPlayingInfoCenter::defaultCenter(),
                              RemoteCommandCenter::shared(), std::move(mediaOptions));
    } catch (const std::exception& error) {
        SomnaraLogger::log(std::string("The media controls are not served: ") + error.what(), LogType::error);
    }
    connection->start();
    SomnaraLogger::log(std::string("Serving ") + bus::name + " on the session bus", LogType::defaultLevel);

    asio::signal_set signals(Loop::current().context(), SIGINT, SIGTERM);
    connection->onLost([&signals] { signals.cancel(); });
    try {
        const int number = co_await signals.async_wait(asio::use_awaitable);
        SomnaraLogger::log("Stopping on signal " + std::to_string(number), LogType::defaultLevel);
    } catch (const std::system_error&) {
        SomnaraLogger::log("Stopping: the session bus went away", LogType::defaultLevel);
    }
    co_await daemon->shutDown();
    SomnaraLogger::log("Stopped", LogType::defaultLevel);
}

} // namespace

void addDaemonCommand(CLI::App& app) {
    auto options = std::make_shared<DaemonOptions>();
    auto* command = app.add_subcommand(
        "daemon", "Run the player: one per user, on the session bus as org.somnara.Somnara (the bus and "
                  "systemd start it when a command needs it)");
    command->add_flag("--verbose,-v", options->verbose, "Echo the log to standard error");
    command->add_option("--device", options->device, "The PulseAudio sink to play on (default: the server's)")
        ->option_text("SINK");
    options->syncFolder.addTo(*command);
    command->callback([options] {
        SomnaraLogger::setEchoesToStandardError(options->verbose);
        if (options->verbose) {
            SomnaraLogger::setMinimumLevel(LogType::info);
        }
        registerPulseAudioOutput();
        // Kept for the life of the process, like the library's process-wide objects: the player and
        // its PulseAudio session must not be torn down after the loop they live on has gone.
        static auto* daemon = new std::shared_ptr<Daemon>();
        // The daemon orders its own changes on its one loop; holding the home's lock for its whole life
        // would only make a command given its own --sync-folder wait for ever.
        runSynced(options->syncFolder, Access::reads, [&] {
            auto connection = claimName();
            // Before anything asks for the process's session (the system volume observer does).
            AudioSession::setShared(makePulseAudioSession());
            *daemon = Daemon::make();
            return serve(*options, std::move(connection), *daemon);
        });
    });
}

} // namespace somnara::app
