#pragma once

#include <somnara/downloads/SoundsDownloader.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>
#include <somnara/linux/cairo/CairoImageRenderer.hpp>
#include <somnara/player/AudioFileFactory.hpp>
#include <somnara/player/NoisePlayer.hpp>
#include <somnara/selection/SoundTracksCollection.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>
#include <somnara/stats/StandardStatsStore.hpp>
#include <somnara/stats/StatsTracker.hpp>
#include <somnara/system/CommandCenterHandler.hpp>
#include <somnara/system/NowPlayingImageFactory.hpp>
#include <somnara/system/RemoteSettings.hpp>

#include <asio/awaitable.hpp>

#include <memory>
#include <string>

namespace somnara::app {

/// Every long-lived object of the app, created once in dependency order and kept for the life of the
/// daemon. The bus interfaces (ours and the system's media controls) are made on top of these.
///
/// Loop only.
struct Daemon : std::enable_shared_from_this<Daemon> {
    /// Makes the stores of the first step, which start loading at once.
    static std::shared_ptr<Daemon> make();
    /// Once the stores have loaded, makes the rest. `device`: the PulseAudio sink to play on; empty for
    /// the server's default.
    asio::awaitable<void> start(std::string device);

    /// Stops with the stop fade, lets the stats tracker close the open play events and write them,
    /// and stops the engine.
    asio::awaitable<void> shutDown();

    // 1. Stores and factories without dependencies.
    std::shared_ptr<NoisePlayerSettingsStore> settingsStore;
    std::shared_ptr<SoundTrackMixesStore> mixesStore;
    std::shared_ptr<SoundTrackFavouritesStore> favouritesStore;
    /// Always made: without a bucket it downloads nothing but still says which copies are present.
    std::shared_ptr<SoundsDownloader> soundsDownloader;
    std::shared_ptr<NowPlayingImageFactory> nowPlayingImageFactory;
    /// Draws the artwork into the user's cache; none when the artwork's resources cannot be read.
    std::shared_ptr<CairoImageRenderer> imageRenderer;
    std::shared_ptr<StandardStatsStore> statsStore;
    std::shared_ptr<StaticRemoteSettingsStore> remoteSettingsStore;
    // 2. The selection and the sounds' files.
    std::shared_ptr<SoundTracksCollection> collection;
    std::shared_ptr<AudioFileFactory> audioFileFactory;
    // 3. The player.
    std::shared_ptr<NoisePlayer> player;
    // 4. What follows the player: listening statistics (its tracker starts the last-active-date writer)
    //    and the handler of the system's remote commands, which the media controls on the bus deliver.
    std::shared_ptr<StatsTracker> statsTracker;
    std::unique_ptr<CommandCenterHandler> commandCenterHandler;
};

/// The downloader of the documents directory; with `synchronisesAtStart`, it downloads the missing
/// sounds 10 s after its creation.
std::shared_ptr<SoundsDownloader> makeSoundsDownloader(std::optional<BucketConfiguration> bucket,
                                                       bool synchronisesAtStart);

} // namespace somnara::app
