#include "NoisePlayerPlaybackStateSource.hpp"

#include <somnara/runtime/StreamOperators.hpp>

namespace somnara::app {

AsyncStream<NoisePlayerState> NoisePlayerPlaybackStateSource::subscribeToState() {
    return player_->stateSubject()->subscribe();
}

asio::awaitable<NoisePlayerState> NoisePlayerPlaybackStateSource::state() {
    co_return player_->state();
}

AsyncStream<PlaybackStateSource::SelectionChange>
NoisePlayerPlaybackStateSource::subscribeToSelectedSoundTracks() {
    return mapStream(player_->soundTracksCollection()->selectedSoundTracksSubject()->subscribe(),
                     [](SelectedSoundTracksChange change) {
                         return SelectionChange{std::move(change.old_), std::move(change.new_)};
                     });
}

asio::awaitable<PlaybackStateSource::SoundTracks> NoisePlayerPlaybackStateSource::selectedSoundTracks() {
    co_return player_->soundTracksCollection()->selectedSoundTracks();
}

} // namespace somnara::app
