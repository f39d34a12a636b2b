#pragma once

#include <somnara/player/NoisePlayer.hpp>
#include <somnara/stats/PlaybackStateSource.hpp>

#include <memory>

namespace somnara {

/// The noise player and its collection as the stats tracker sees them, so that listening is recorded
/// as soon as the app hands this to the tracker.
///
/// Loop only.
class NoisePlayerPlaybackStateSource final : public PlaybackStateSource {
public:
    explicit NoisePlayerPlaybackStateSource(std::shared_ptr<NoisePlayer> player);

    AsyncStream<NoisePlayerState> subscribeToState() override;
    asio::awaitable<NoisePlayerState> state() override;
    AsyncStream<SelectionChange> subscribeToSelectedSoundTracks() override;
    asio::awaitable<SoundTracks> selectedSoundTracks() override;

private:
    std::shared_ptr<NoisePlayer> player_;
};

} // namespace somnara
