#include "Daemon.hpp"

#include <somnara/foundation/Bundle.hpp>
#include <somnara/linux/curl/CurlTransferSession.hpp>
#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>
#include <somnara/platform/AudioOutput.hpp>
#include <somnara/platform/AudioSession.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/player/NoisePlayerPlaybackStateSource.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/SystemVolumeObserver.hpp>

#include <vector>

namespace somnara::app {

namespace {

std::shared_ptr<AudioFile> openSharedAudioFile(const std::filesystem::path& url) {
    return openAudioFile(url);
}

/// How long the observers of the final state get to run (the stats tracker closing the play events).
constexpr Seconds settleTime{0.2};

} // namespace

std::shared_ptr<SoundsDownloader> makeSoundsDownloader(std::optional<BucketConfiguration> bucket,
                                                       bool synchronisesAtStart) {
    const auto documents =
        FileLocations::shared()->requireDocumentsDirectory(SoundsDownloader::sourceFile, 99);
    return SoundsDownloader::make(documents, std::move(bucket), CurlTransferSession::factory(), openAudioFile,
                                  synchronisesAtStart);
}

std::shared_ptr<Daemon> Daemon::make() {
    auto daemon = std::make_shared<Daemon>();
    daemon->settingsStore = NoisePlayerSettingsStore::make();
    daemon->mixesStore = std::make_shared<SoundTrackMixesStore>();
    daemon->favouritesStore = SoundTrackFavouritesStore::shared();
    // Like the app at its start, the daemon fetches the missing lossless copies in the background.
    daemon->soundsDownloader = makeSoundsDownloader(BucketConfiguration::load(), true);
    try {
        daemon->imageRenderer = std::make_shared<CairoImageRenderer>();
        daemon->imageRenderer->removeUnreferencedImages(NowPlayingInfoCenter::defaultCenter());
    } catch (const std::exception& error) {
        // The media controls then show the title without artwork.
        SomnaraLogger::log(std::string("No now-playing artwork: ") + error.what(), LogType::error);
    }
    daemon->nowPlayingImageFactory = std::make_shared<NowPlayingImageFactory>(daemon->imageRenderer);
    daemon->statsStore = std::make_shared<StandardStatsStore>();
    daemon->remoteSettingsStore = std::make_shared<StaticRemoteSettingsStore>();
    return daemon;
}

asio::awaitable<void> Daemon::start(std::string device) {
    const auto daemon = shared_from_this();
    // A collection made before the mixes are loaded would match the selection against none.
    co_await daemon->mixesStore->waitUntilLoaded();
    co_await daemon->favouritesStore->waitUntilLoaded();
    const auto& cases = SoundTrack::allCases();
    daemon->collection =
        SoundTracksCollection::make(std::vector<SoundTrack>(cases.begin(), cases.end()),
                                    daemon->favouritesStore, daemon->mixesStore, daemon->settingsStore);
    daemon->audioFileFactory = std::make_shared<AudioFileFactory>(daemon->soundsDownloader->soundsDirectory(),
                                                                  Bundle::module(), openSharedAudioFile);

    NoisePlayer::Platform platform;
    platform.makeOutput = [device](double sampleRate) -> std::shared_ptr<AudioOutput> {
        AudioOutputConfiguration configuration;
        configuration.sampleRate = sampleRate;
        configuration.device = device;
        // Half a second: every change is faded anyway, and the server asks for sound six times a second.
        configuration.latency = 0.5;
        return AudioOutput::make("pulse", configuration);
    };
    platform.session = AudioSession::shared();
    daemon->player = NoisePlayer::make(daemon->settingsStore, daemon->collection, daemon->audioFileFactory,
                                       daemon->nowPlayingImageFactory, SystemVolumeObserver::shared(),
                                       std::move(platform));

    daemon->statsTracker = StatsTracker::make(
        std::make_shared<NoisePlayerPlaybackStateSource>(daemon->player), daemon->statsStore);
    daemon->commandCenterHandler =
        std::make_unique<CommandCenterHandler>(daemon->player, daemon->collection, daemon->settingsStore);
    co_await daemon->collection->waitForFollowUps();
}

asio::awaitable<void> Daemon::shutDown() {
    const auto state = player->state().kind();
    if (state != NoisePlayerState::Case::stopped) {
        const double fade = settingsStore->currentSettings().fadeTiming.stop;
        SomnaraLogger::log("Stopping with a fade of " + std::to_string(fade) + " s", LogType::info);
        auto stopping = player->stop(fade);
        co_await stopping.value();
    }
    co_await sleep(settleTime);
    SomnaraLogger::log("Audio underruns while running: " + std::to_string(player->engine().underrunCount()),
                       LogType::info);
    auto stoppingEngine = player->stopEngine();
    co_await stoppingEngine.value();
    co_await collection->waitForFollowUps();
}

} // namespace somnara::app
