#include <somnara/player/NoisePlayerPlaybackStateSource.hpp>
#include <somnara/runtime/StreamOperators.hpp>

namespace somnara {

NoisePlayerPlaybackStateSource::NoisePlayerPlaybackStateSource(std::shared_ptr<NoisePlayer> player)
    : player_(std::move(player)) {}

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
                         return SelectionChange{change.old_, change.new_};
                     });
}

asio::awaitable<PlaybackStateSource::SoundTracks> NoisePlayerPlaybackStateSource::selectedSoundTracks() {
    co_return player_->soundTracksCollection()->selectedSoundTracks();
}

} // namespace somnara
