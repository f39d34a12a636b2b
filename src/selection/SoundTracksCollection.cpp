#include <somnara/foundation/LocalizedString.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>
#include <somnara/runtime/TaskGroup.hpp>
#include <somnara/selection/SoundTracksCollection.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>
#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <utility>

namespace somnara {

namespace {

// The few calls into the stores, kept together so the rest reads as the collection's own rules.

asio::awaitable<NoisePlayerSettings> readSettings(NoisePlayerSettingsStore& store) {
    co_return co_await store.noisePlayerSettings();
}

/// Applies `change` to the newest settings as one step of the store, so that a change made by
/// another operation while this one was suspended is kept.
asio::awaitable<void> changeSettings(NoisePlayerSettingsStore& store,
                                     std::function<NoisePlayerSettings(NoisePlayerSettings)> change) {
    auto update = store.update(std::move(change));
    co_await std::move(update);
}

void reportMissingIndex(const char* function, int line) {
    ZelAnalyticsLogger::shared().loggedAssertionFailure("Where's this index come from",
                                                        SoundTracksCollection::sourceFile, function, line);
}

SoundTrackSet only(SoundTrack soundTrack) {
    return SoundTrackSet{soundTrack};
}

SelectedSoundTracksChange makeChange(SoundTrackSet old, SoundTrackSet current) {
    return SelectedSoundTracksChange{std::move(old), std::move(current)};
}

std::string shortestText(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

} // namespace

SoundTracksCollection::SoundTracksCollection(Private, std::vector<SoundTrack> allSoundTracks,
                                             std::shared_ptr<SoundTrackFavouritesStore> favouritesStore,
                                             std::shared_ptr<SoundTrackMixesStore> mixesStore,
                                             std::shared_ptr<NoisePlayerSettingsStore> settingsStore)
    : allSoundTracks_(std::move(allSoundTracks)), favouritesStore_(std::move(favouritesStore)),
      mixesStore_(std::move(mixesStore)), settingsStore_(std::move(settingsStore)),
      selectionModeSubject_(AsyncCurrentValueSubject<SelectionMode>::make(SelectionMode::single)),
      selectionNameSubject_(AsyncCurrentValueSubject<std::string>::make(std::string{})),
      selectedSoundTracksSubject_(
          AsyncCurrentValueSubject<SelectedSoundTracksChange>::make(SelectedSoundTracksChange{})),
      selectedMixSubject_(AsyncCurrentValueSubject<std::optional<Mix>>::make(std::nullopt)) {}

std::shared_ptr<SoundTracksCollection>
SoundTracksCollection::make(std::vector<SoundTrack> allSoundTracks,
                            std::shared_ptr<SoundTrackFavouritesStore> favouritesStore,
                            std::shared_ptr<SoundTrackMixesStore> mixesStore,
                            std::shared_ptr<NoisePlayerSettingsStore> settingsStore) {
    auto collection = std::make_shared<SoundTracksCollection>(
        Private{}, std::move(allSoundTracks), std::move(favouritesStore), std::move(mixesStore),
        std::move(settingsStore));
    collection->startUpTask_ = spawn([collection]() { return collection->startUp(); });
    return collection;
}

asio::awaitable<void> SoundTracksCollection::startUp() {
    const auto modeSettings = co_await readSettings(*settingsStore_);
    assignSelectionMode(modeSettings.selectionMode);
    const auto selectionSettings = co_await readSettings(*settingsStore_);
    assignSelectedSoundTracks(selectionSettings.currentSoundTracks);
    co_await updateSelectedMix();
    updateSelectionName();
}

// MARK: - Fields and their follow-ups

void SoundTracksCollection::assignSelectedSoundTracks(SoundTrackSet soundTracks) {
    auto previous = std::exchange(selectedSoundTracks_, std::move(soundTracks));
    startFollowUp([previous = std::move(previous)](std::shared_ptr<SoundTracksCollection> self) {
        return self->selectionFollowUp(previous);
    });
}

void SoundTracksCollection::assignSelectionMode(SelectionMode mode) {
    if (mode == selectionMode_) {
        return;
    }
    selectionMode_ = mode;
    startFollowUp([](std::shared_ptr<SoundTracksCollection> self) { return self->modeFollowUp(); });
}

void SoundTracksCollection::assignSelectedMix(std::optional<Mix> mix) {
    selectedMix_ = std::move(mix);
    startFollowUp([](std::shared_ptr<SoundTracksCollection> self) { return self->mixFollowUp(); });
}

void SoundTracksCollection::startFollowUp(FollowUp body) {
    auto previous = lastFollowUp_;
    lastFollowUp_ =
        spawn([self = shared_from_this(), previous, body = std::move(body)]() -> asio::awaitable<void> {
            // Never run inside the operation that assigned the field: let it finish or suspend first.
            co_await asio::post(Loop::current().executor(), asio::use_awaitable);
            if (previous.isValid()) {
                try {
                    co_await previous.value();
                } catch (...) {
                    // A failed follow-up has reported its own failure; the next one still runs.
                }
            }
            auto work = body(self);
            co_await std::move(work);
        });
}

asio::awaitable<void> SoundTracksCollection::selectionFollowUp(SoundTrackSet previous) {
    // Lambdas and other temporaries are named before they are awaited: g++ 12 destroys temporaries of a
    // co_await expression twice.
    auto save = changeSettings(*settingsStore_, [this](NoisePlayerSettings settings) {
        return settings.withCurrentSoundTracks(selectedSoundTracks_);
    });
    co_await std::move(save);
    updateSelectionName();
    if (selectedSoundTracks_ == previous) {
        co_return;
    }
    co_await updateSelectedMix();
    selectedSoundTracksSubject_->send(makeChange(std::move(previous), selectedSoundTracks_));
}

asio::awaitable<void> SoundTracksCollection::modeFollowUp() {
    if (selectionMode_ == SelectionMode::single && !selectedSoundTracks_.empty()) {
        // Whichever sound the set yields first stays; the user asked for one sound, not a given one.
        std::vector<SoundTrack> others(std::next(selectedSoundTracks_.begin()), selectedSoundTracks_.end());
        auto removeOne = [self = shared_from_this()](SoundTrack soundTrack) -> asio::awaitable<void> {
            co_await self->remove(soundTrack);
        };
        auto removals = concurrentForEach(std::move(others), removeOne);
        co_await std::move(removals);
    }
    auto save = changeSettings(*settingsStore_, [this](NoisePlayerSettings settings) {
        return settings.withSelectionMode(selectionMode_);
    });
    co_await std::move(save);
    selectionModeSubject_->send(selectionMode_);
}

asio::awaitable<void> SoundTracksCollection::mixFollowUp() {
    updateSelectionName();
    selectedMixSubject_->send(selectedMix_);
    co_return;
}

asio::awaitable<void> SoundTracksCollection::waitForFollowUps() {
    if (startUpTask_.isValid()) {
        auto startUp = startUpTask_;
        co_await startUp.value();
    }
    // A follow-up may start others; wait until the last one started has nothing after it.
    while (lastFollowUp_.isValid() && !lastFollowUp_.isFinished()) {
        auto last = lastFollowUp_;
        try {
            co_await last.value();
        } catch (...) {
        }
    }
}

// MARK: - Name and matching mix

std::string SoundTracksCollection::getSelectionName() const {
    if (selectedMix_) {
        return selectedMix_->name();
    }
    switch (selectedSoundTracks_.size()) {
    case 0:
        ZelAnalyticsLogger::shared().loggedAssertionFailure("The should be at least one soundtrack selected",
                                                            sourceFile, "getSelectionName()", 265);
        return {};
    case 1:
        return selectedSoundTracks_.begin()->name();
    case 2: {
        const auto first = *selectedSoundTracks_.begin();
        const auto second = *std::next(selectedSoundTracks_.begin());
        return first < second ? first.name() + " & " + second.name() : second.name() + " & " + first.name();
    }
    default:
        return formatLocalized(localizedString("sound_track.multiple_selection", "%d Sounds Selected"),
                               static_cast<std::int64_t>(selectedSoundTracks_.size()));
    }
}

void SoundTracksCollection::updateSelectionName() {
    selectionNameSubject_->send(getSelectionName());
}

asio::awaitable<void> SoundTracksCollection::updateSelectedMix() {
    auto candidate = co_await findMixMatchingCurrentSelection();
    assignSelectedMix(std::move(candidate));
}

// MARK: - Selecting sounds

asio::awaitable<void> SoundTracksCollection::setSelectionMode(SelectionMode mode) {
    assignSelectionMode(mode);
    co_return;
}

asio::awaitable<void> SoundTracksCollection::add(SoundTrack soundTrack) {
    if (selectionMode_ == SelectionMode::single) {
        assignSelectedSoundTracks(only(soundTrack));
        co_return;
    }
    auto soundTracks = selectedSoundTracks_;
    soundTracks.insert(soundTrack);
    assignSelectedSoundTracks(std::move(soundTracks));
    co_await updateSelectedMix();
}

asio::awaitable<bool> SoundTracksCollection::remove(SoundTrack soundTrack) {
    const auto count = selectedSoundTracks_.size();
    if (count >= 2) {
        auto soundTracks = selectedSoundTracks_;
        soundTracks.erase(soundTrack);
        assignSelectedSoundTracks(std::move(soundTracks));
    }
    co_return count > 1;
}

asio::awaitable<void> SoundTracksCollection::toggle(SoundTrack soundTrack) {
    if (selectedSoundTracks_.contains(soundTrack)) {
        co_await remove(soundTrack);
    } else {
        co_await add(soundTrack);
    }
}

asio::awaitable<void> SoundTracksCollection::selectNext() {
    co_await selectNeighbour(true);
}

asio::awaitable<void> SoundTracksCollection::selectPrevious() {
    co_await selectNeighbour(false);
}

asio::awaitable<void> SoundTracksCollection::selectNeighbour(bool forward) {
    const char* function = forward ? "selectNext()" : "selectPrevious()";
    std::vector<SoundTrack> sorted(selectedSoundTracks_.begin(), selectedSoundTracks_.end());
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty()) {
        reportMissingIndex(function, forward ? 147 : 184);
        co_return;
    }
    const auto neighbour = forward ? getSoundTrackAfter(sorted.front()) : getSoundTrackBefore(sorted.front());
    if (!neighbour) {
        reportMissingIndex(function, forward ? 173 : 210);
        co_return;
    }
    assignSelectedSoundTracks(only(*neighbour));
    assignSelectionMode(SelectionMode::single);
}

std::optional<SoundTrack> SoundTracksCollection::getSoundTrackAfter(SoundTrack soundTrack) const {
    const auto found = std::find(allSoundTracks_.begin(), allSoundTracks_.end(), soundTrack);
    if (found == allSoundTracks_.end()) {
        reportMissingIndex("getSoundTrack(after:)", 155);
        return std::nullopt;
    }
    const auto next = std::next(found);
    return next == allSoundTracks_.end() ? allSoundTracks_.front() : *next;
}

std::optional<SoundTrack> SoundTracksCollection::getSoundTrackBefore(SoundTrack soundTrack) const {
    const auto found = std::find(allSoundTracks_.begin(), allSoundTracks_.end(), soundTrack);
    if (found == allSoundTracks_.end()) {
        reportMissingIndex("getSoundTrack(before:)", 192);
        return std::nullopt;
    }
    return found == allSoundTracks_.begin() ? allSoundTracks_.back() : *std::prev(found);
}

// MARK: - Volumes

SoundTracksCollection::Subject<float> SoundTracksCollection::volumeSubject(SoundTrack soundTrack) {
    auto [entry, inserted] = soundTrackVolumeSubjects_.try_emplace(soundTrack);
    if (inserted) {
        entry->second = AsyncCurrentValueSubject<float>::make(1.0f);
    }
    return entry->second;
}

asio::awaitable<float> SoundTracksCollection::getVolume(SoundTrack soundTrack) {
    co_return co_await getVolume(soundTrack, selectionMode_);
}

asio::awaitable<float> SoundTracksCollection::getVolume(SoundTrack soundTrack, SelectionMode mode) {
    const bool selected = selectedSoundTracks_.contains(soundTrack);
    if (selected && mode == SelectionMode::multiple) {
        const auto settings = co_await readSettings(*settingsStore_);
        const auto entry = settings.soundTracksMixVolume.find(soundTrack);
        const float volume = entry == settings.soundTracksMixVolume.end() ? 1.0f : entry->second;
        // A selected sound at 0 would be silent while shown as playing: it plays at full volume.
        co_return volume == 0.0f ? 1.0f : volume;
    }
    co_return selected ? 1.0f : 0.0f;
}

asio::awaitable<void> SoundTracksCollection::setVolume(float volume, SoundTrack soundTrack) {
    if (!std::isfinite(volume)) {
        // It would play as silence or noise and could not be saved with the mix.
        SomnaraLogger::log("Ignored a volume that is not a finite number for soundTrack: " +
                               soundTrack.name(),
                           LogType::error);
        co_return;
    }
    const auto settings = co_await readSettings(*settingsStore_);
    const auto entry = settings.soundTracksMixVolume.find(soundTrack);
    if (entry != settings.soundTracksMixVolume.end() && entry->second == volume) {
        co_return;
    }
    const bool selected = selectedSoundTracks_.contains(soundTrack);
    if (volume <= 0.0f && selected) {
        co_await remove(soundTrack);
    } else if (volume > 0.0f && !selected) {
        co_await add(soundTrack);
    }
    // The entry goes into the newest record, not into the copy read above, so a volume stored by
    // another operation meanwhile stays.
    auto save = changeSettings(*settingsStore_, [soundTrack, volume](NoisePlayerSettings newest) {
        auto volumes = newest.soundTracksMixVolume;
        volumes[soundTrack] = volume;
        return newest.withSoundTracksMixVolume(std::move(volumes));
    });
    co_await std::move(save);
    volumeSubject(soundTrack)->send(volume);
    SomnaraLogger::log("Volume on soundtrack Collection sent " + shortestText(volume) +
                           " for soundTrack: " + soundTrack.name(),
                       LogType::debug);
    co_await updateSelectedMix();
}

// MARK: - Favourites

asio::awaitable<void> SoundTracksCollection::saveFavourite(SoundTrack favourite) {
    co_await favouritesStore_->add(favourite);
    EventLogger::logEvent("favourited_sound", std::nullopt);
}

asio::awaitable<void> SoundTracksCollection::deleteFavourite(SoundTrack favourite) {
    co_await favouritesStore_->remove(favourite);
}

asio::awaitable<bool> SoundTracksCollection::isFavourite(SoundTrack soundTrack) {
    co_return favouritesStore_->favouritesSubject()->currentValue().contains(soundTrack);
}

asio::awaitable<std::vector<SoundTrack>> SoundTracksCollection::allSoundTracksExcludingFavourites() {
    const auto favourites = favouritesStore_->favouritesSubject()->currentValue();
    std::vector<SoundTrack> soundTracks;
    std::copy_if(allSoundTracks_.begin(), allSoundTracks_.end(), std::back_inserter(soundTracks),
                 [&](const SoundTrack& soundTrack) { return !favourites.contains(soundTrack); });
    co_return soundTracks;
}

// MARK: - Mixes

asio::awaitable<Mix> SoundTracksCollection::makeMixForCurrentSelection() {
    if (selectedSoundTracks_.empty()) {
        throw std::system_error(SoundTracksCollectionError::cannotMakeMixWithNoSoundTracksSelected);
    }
    const auto settings = co_await readSettings(*settingsStore_);
    Mix::SoundsAndVolumeLevels levels;
    for (const auto& soundTrack : selectedSoundTracks_) {
        const auto entry = settings.soundTracksMixVolume.find(soundTrack);
        // Unlike playback, a stored 0 stays 0 here: the mix records what is stored.
        levels.emplace(soundTrack, entry == settings.soundTracksMixVolume.end() ? 1.0f : entry->second);
    }
    co_return Mix(std::move(levels));
}

asio::awaitable<std::optional<Mix>> SoundTracksCollection::findMixMatchingCurrentSelection() {
    std::optional<Mix> candidate;
    try {
        auto made = co_await makeMixForCurrentSelection();
        candidate.emplace(std::move(made));
    } catch (const std::system_error& error) {
        if (error.code() != SoundTracksCollectionError::cannotMakeMixWithNoSoundTracksSelected) {
            throw;
        }
    }
    if (!candidate) {
        co_return std::nullopt;
    }
    auto lookup = mixesStore_->mixMatching(*candidate);
    co_return co_await std::move(lookup);
}

asio::awaitable<void> SoundTracksCollection::select(Mix mix) {
    SoundTrackSet soundTracks;
    for (const auto& [soundTrack, volume] : mix.soundsAndVolumeLevels()) {
        soundTracks.insert(soundTrack);
    }
    assignSelectedSoundTracks(std::move(soundTracks));
    // Even a mix of one sound is a mix: its volume only applies in multiple mode.
    assignSelectionMode(SelectionMode::multiple);
    auto save =
        changeSettings(*settingsStore_, [levels = mix.soundsAndVolumeLevels()](NoisePlayerSettings newest) {
            auto volumes = newest.soundTracksMixVolume;
            for (const auto& [soundTrack, volume] : levels) {
                volumes[soundTrack] = volume;
            }
            return newest.withSoundTracksMixVolume(std::move(volumes));
        });
    co_await std::move(save);
    assignSelectedMix(std::move(mix));
}

asio::awaitable<void> SoundTracksCollection::saveMix(Mix mix) {
    auto store = mixesStore_->add(mix);
    co_await std::move(store);
    assignSelectedMix(std::move(mix));
}

asio::awaitable<void> SoundTracksCollection::deleteMix(Mix mix) {
    auto store = mixesStore_->remove(mix);
    co_await std::move(store);
    if (selectedMix_ && selectedMix_->name() == mix.name()) {
        assignSelectedMix(std::nullopt);
    }
}

asio::awaitable<std::optional<Mix>> SoundTracksCollection::mixMatching(Mix mix) {
    auto lookup = mixesStore_->mixMatching(std::move(mix));
    co_return co_await std::move(lookup);
}

asio::awaitable<std::optional<Mix>> SoundTracksCollection::mixWithName(std::string name) {
    auto lookup = mixesStore_->mixWithName(std::move(name));
    co_return co_await std::move(lookup);
}

} // namespace somnara
