#pragma once

#include <somnara/runtime/Task.hpp>
#include <somnara/stats/LastActiveDateTracker.hpp>
#include <somnara/stats/ListeningStats.hpp>
#include <somnara/stats/PlayEvent.hpp>
#include <somnara/stats/PlaybackStateSource.hpp>
#include <somnara/stats/StatsStore.hpp>

#include <asio/awaitable.hpp>

#include <memory>
#include <vector>

namespace somnara {

/// Records when each sound plays and turns that history into listening statistics.
///
/// It watches the player's state and the selection: a sound that starts playing opens a play event,
/// one that stops closes it, and the whole history is saved after every change. At start it closes
/// the events that a killed process left open at the last moment that process was seen alive, or
/// drops them when that moment is unknown.
///
/// Lives on the loop. Everything here is loop only; its watchers hold it weakly.
class StatsTracker : public std::enable_shared_from_this<StatsTracker> {
    struct Private {};

public:
    using ListeningStats = somnara::ListeningStats;

    StatsTracker(Private, std::shared_ptr<PlaybackStateSource> noisePlayer,
                 std::shared_ptr<StatsStore> statsStore);

    /// A tracker that starts loading, repairing and watching at once; returns before any of that ran.
    static std::shared_ptr<StatsTracker> make(std::shared_ptr<PlaybackStateSource> noisePlayer,
                                              std::shared_ptr<StatsStore> statsStore);

    /// The statistics of the history in memory as of `currentDate`, in the user's calendar (`TZ`, else
    /// the system's zone). Runs whole, without giving way; before the history has loaded it is that
    /// of an empty one.
    ListeningStats stats(Date currentDate) const;

    const std::shared_ptr<LastActiveDateTracker>& lastActiveDateTracker() const noexcept {
        return lastActiveDateTracker_;
    }

private:
    asio::awaitable<void> configure();
    asio::awaitable<void> handleState(NoisePlayerState state);
    asio::awaitable<void> handleSelectionChange(PlaybackStateSource::SelectionChange change);
    void startEvent(const PlaybackStateSource::SoundTracks& soundTracks);
    void stopEvent(const PlaybackStateSource::SoundTracks& soundTracks);
    void save(const char* function, int line);

    // Immutable after construction.
    std::shared_ptr<LastActiveDateTracker> lastActiveDateTracker_;
    std::shared_ptr<PlaybackStateSource> noisePlayer_;
    std::shared_ptr<StatsStore> statsStore_;

    // Loop only.
    std::vector<PlayEvent> playEvents_;
    std::vector<Task<void>> observationTasks_;
};

} // namespace somnara
