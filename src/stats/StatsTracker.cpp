#include <somnara/runtime/StreamOperators.hpp>
#include <somnara/stats/StatsTracker.hpp>
#include <somnara/stats/UserCalendar.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <exception>
#include <utility>

namespace somnara {

namespace {

using SoundTracks = PlaybackStateSource::SoundTracks;
using SelectionChange = PlaybackStateSource::SelectionChange;

constexpr const char* sourceFile = "SomnaraKit/StatsTracker";

SoundTracks difference(const SoundTracks& from, const SoundTracks& without) {
    SoundTracks result;
    for (const auto& soundTrack : from) {
        if (!without.contains(soundTrack)) {
            result.insert(soundTrack);
        }
    }
    return result;
}

} // namespace

StatsTracker::StatsTracker(Private, std::shared_ptr<PlaybackStateSource> noisePlayer,
                           std::shared_ptr<StatsStore> statsStore)
    : lastActiveDateTracker_(LastActiveDateTracker::make()), noisePlayer_(std::move(noisePlayer)),
      statsStore_(std::move(statsStore)) {}

std::shared_ptr<StatsTracker> StatsTracker::make(std::shared_ptr<PlaybackStateSource> noisePlayer,
                                                 std::shared_ptr<StatsStore> statsStore) {
    auto tracker = std::make_shared<StatsTracker>(Private{}, std::move(noisePlayer), std::move(statsStore));
    spawn([tracker]() -> asio::awaitable<void> { co_await tracker->configure(); });
    return tracker;
}

asio::awaitable<void> StatsTracker::configure() {
    try {
        playEvents_ = statsStore_->load();
    } catch (const std::exception&) {
        // No history yet, or one that cannot be read: start afresh.
        playEvents_.clear();
    }

    std::vector<PlayEvent> repaired;
    repaired.reserve(playEvents_.size());
    for (std::size_t index = 0; index < playEvents_.size(); ++index) {
        const PlayEvent event = playEvents_[index];
        if (!event.isOpen()) {
            repaired.push_back(event);
            continue;
        }
        // Left open by a process that ended while the sound played: it played at most until that
        // process was last seen alive. Without such a moment its length is unknown, and it is dropped.
        const auto lastActive = co_await lastActiveDateTracker_->storedDate();
        if (lastActive && *lastActive > event.start) {
            repaired.push_back(event.closed(*lastActive));
        }
    }
    playEvents_ = std::move(repaired);
    save("configure()", 96);

    auto self = shared_from_this();
    observationTasks_.push_back(
        observe(self, noisePlayer_->subscribeToState(),
                [](StatsTracker& tracker, NoisePlayerState state) { return tracker.handleState(state); }));
    observationTasks_.push_back(observe(self, noisePlayer_->subscribeToSelectedSoundTracks(),
                                        [](StatsTracker& tracker, SelectionChange change) {
                                            return tracker.handleSelectionChange(std::move(change));
                                        }));
    lastActiveDateTracker_->start();
}

asio::awaitable<void> StatsTracker::handleState(NoisePlayerState state) {
    switch (state.kind()) {
    case NoisePlayerState::Case::playing: {
        const SoundTracks selected = co_await noisePlayer_->selectedSoundTracks();
        startEvent(selected);
        break;
    }
    case NoisePlayerState::Case::interrupted:
    case NoisePlayerState::Case::stopped: {
        const SoundTracks selected = co_await noisePlayer_->selectedSoundTracks();
        stopEvent(selected);
        break;
    }
    case NoisePlayerState::Case::sleepFadeOut:
    case NoisePlayerState::Case::stopping:
        // Still audible while it fades: the events stay open until the player reaches stopped.
        break;
    }
}

asio::awaitable<void> StatsTracker::handleSelectionChange(SelectionChange change) {
    const SoundTracks old = change.old_.value_or(SoundTracks{});
    const SoundTracks added = difference(change.new_, old);
    const SoundTracks removed = difference(old, change.new_);
    stopEvent(removed);
    const NoisePlayerState state = co_await noisePlayer_->state();
    if (state.isPlaying()) {
        startEvent(added);
    }
}

void StatsTracker::startEvent(const SoundTracks& soundTracks) {
    for (const auto& soundTrack : soundTracks) {
        playEvents_.push_back(PlayEvent{Loop::current().now(), soundTrack, std::nullopt});
    }
    save("startEvent(soundTracks:)", 271);
}

void StatsTracker::stopEvent(const SoundTracks& soundTracks) {
    for (auto& event : playEvents_) {
        if (event.isOpen() && soundTracks.contains(event.soundTrack)) {
            event = event.closed(Loop::current().now());
        }
    }
    save("stopEvent(soundTracks:)", 286);
}

void StatsTracker::save(const char* function, int line) {
    try {
        statsStore_->save(playEvents_);
    } catch (const std::exception&) {
        // The list in memory keeps the change; the next save writes it whole again.
        ZelAnalyticsLogger::shared().loggedAssertionFailure("Failed to save stats", sourceFile, function,
                                                            line);
    }
}

StatsTracker::ListeningStats StatsTracker::stats(Date currentDate) const {
    return computeListeningStats(playEvents_, currentDate, Loop::current().now(), UserCalendar::current());
}

} // namespace somnara
