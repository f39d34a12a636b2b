// Following the selection, the volumes and the settings while the player lives, and keeping the
// now-playing information current.

#include <somnara/player/NoisePlayer.hpp>
#include <somnara/runtime/StreamOperators.hpp>
#include <somnara/runtime/TaskGroup.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <algorithm>

namespace somnara {

namespace {

/// "[rain, waves]", in identifier order so that log lines compare.
std::string describe(const SoundTrackSet& soundTracks) {
    std::vector<std::string> names;
    for (const auto& soundTrack : soundTracks) {
        names.emplace_back(soundTrack.identifier());
    }
    std::sort(names.begin(), names.end());
    std::string text = "[";
    for (std::size_t index = 0; index < names.size(); ++index) {
        text += (index == 0 ? "" : ", ") + names[index];
    }
    return text + "]";
}

SoundTrackSet difference(const SoundTrackSet& from, const SoundTrackSet& without) {
    SoundTrackSet result;
    for (const auto& soundTrack : from) {
        if (!without.contains(soundTrack)) {
            result.insert(soundTrack);
        }
    }
    return result;
}

} // namespace

asio::awaitable<void> NoisePlayer::updateNowPlayingInfo(const std::string& title) {
    const auto selected = soundTracksCollection_->selectedSoundTracks();
    const auto layout = co_await nowPlayingImageFactory_->getNowPlayingLayout(selected);
    const auto image = co_await nowPlayingImageFactory_->getNowPlayingImage(selected);
    NowPlayingInfo info;
    info.title = title;
    info.playbackDuration = sleepTimeIntervalRemaining();
    if (image) {
        info.artwork = NowPlayingArtwork{layout.outputSize.width, layout.outputSize.height, *image};
    }
    info.playbackRate = state_.isPlaying() ? 1 : 0;
    if (selected.size() == 1) {
        auto request = audioFileFactory_->audioFile(*selected.begin());
        if (const auto file = co_await request.value()) {
            info.assetURL = file->url();
        }
    }
    SomnaraLogger::log("Now playing info updated: " + info.description(), LogType::defaultLevel);
    platform_.nowPlayingInfoCenter->setNowPlayingInfo(std::move(info));
}

void NoisePlayer::startObservationTasks() {
    auto self = shared_from_this();
    const auto& collection = *soundTracksCollection_;

    observationTasks_.push_back(observe(self,
                                        removeDuplicates(collection.selectionNameSubject()->subscribe()),
                                        [](NoisePlayer& player, std::string name) -> asio::awaitable<void> {
                                            co_await player.updateNowPlayingInfo(name);
                                        }));

    observationTasks_.push_back(
        observe(self, collection.selectionModeSubject()->subscribe(),
                [](NoisePlayer& player, SelectionMode) -> asio::awaitable<void> {
                    if (!player.state_.isPlaying()) {
                        co_return;
                    }
                    // A mode switch sets the volumes at once: single mode plays its one sound at full
                    // volume, multiple mode each sound at its mix volume (none or 0 counts as full).
                    const auto settings = co_await player.settingsStore_->noisePlayerSettings();
                    const auto& collection = *player.soundTracksCollection_;
                    const auto selected = collection.selectedSoundTracks();
                    for (const auto& soundTrack : selected) {
                        float volume = 1.0F;
                        if (!collection.selectedSoundTracks().contains(soundTrack)) {
                            volume = 0.0F;
                        } else if (collection.selectionMode() == SelectionMode::multiple) {
                            const auto entry = settings.soundTracksMixVolume.find(soundTrack);
                            if (entry != settings.soundTracksMixVolume.end() && entry->second != 0.0F) {
                                volume = entry->second;
                            }
                        }
                        auto set = player.players().at(soundTrack)->setVolume(volume);
                        co_await set.value();
                    }
                }));

    observationTasks_.push_back(observe(
        self, collection.selectedSoundTracksSubject()->subscribe(),
        [](NoisePlayer& player, SelectedSoundTracksChange change) -> asio::awaitable<void> {
            const auto old = change.old_.value_or(SoundTrackSet{});
            const auto added = difference(change.new_, old);
            const auto removed = difference(old, change.new_);
            SomnaraLogger::log("Added soundtracked " + describe(added), LogType::debug);
            SomnaraLogger::log("Removed soundtracked " + describe(removed), LogType::debug);
            if (!player.state_.isPlaying() || !player.engine_->isRunning()) {
                co_return;
            }
            const bool swap = added.size() == 1 && removed.size() == 1;
            const auto settings = co_await player.settingsStore_->noisePlayerSettings();
            const auto fadeTiming = settings.fadeTiming;
            std::vector<std::shared_ptr<SoundTrackPlayerNode>> adding;
            std::vector<std::shared_ptr<SoundTrackPlayerNode>> removing;
            for (const auto& soundTrack : added) {
                adding.push_back(player.players().at(soundTrack));
            }
            for (const auto& soundTrack : removed) {
                removing.push_back(player.players().at(soundTrack));
            }
            // Neither fade is awaited: the next change is taken while they run.
            const double fadeIn = swap ? fadeTiming.crossFade : fadeTiming.add;
            const double fadeOut = swap ? fadeTiming.crossFade : fadeTiming.remove;
            spawn([adding, fadeIn, collection = player.soundTracksCollection_]() -> asio::awaitable<void> {
                auto fadeInOne = [collection, fadeIn](
                                     std::shared_ptr<SoundTrackPlayerNode> node) -> asio::awaitable<void> {
                    const float volume = co_await collection->getVolume(node->soundTrack());
                    auto ramp = node->fadeIn(volume, fadeIn);
                    co_await ramp.value();
                };
                auto all = concurrentForEach(adding, fadeInOne);
                co_await std::move(all);
            });
            spawn([removing, fadeOut]() -> asio::awaitable<void> {
                auto fadeOutOne =
                    [fadeOut](std::shared_ptr<SoundTrackPlayerNode> node) -> asio::awaitable<void> {
                    auto ramp = node->fadeOut(fadeOut);
                    co_await ramp.value();
                };
                auto all = concurrentForEach(removing, fadeOutOne);
                co_await std::move(all);
            });
        }));

    observationTasks_.push_back(observe(self, settingsStore_->noisePlayerSettingsSubject()->subscribe(),
                                        [](NoisePlayer& player, std::optional<NoisePlayerSettings> settings) {
                                            if (settings) {
                                                player.applySoundSettings(settings->soundSettings);
                                            }
                                        }));

    for (const auto& soundTrack : SoundTrack::allCases()) {
        observationTasks_.push_back(
            observe(self, soundTracksCollection_->volumeSubject(soundTrack)->subscribe(),
                    [soundTrack](NoisePlayer& player, float volume) -> asio::awaitable<void> {
                        auto set = player.players().at(soundTrack)->setVolume(volume);
                        co_await set.value();
                    }));
    }
}

} // namespace somnara
