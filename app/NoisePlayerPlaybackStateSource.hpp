#pragma once

#include <somnara/player/NoisePlayer.hpp>
#include <somnara/stats/PlaybackStateSource.hpp>

#include <memory>

namespace somnara::app {

/// The noise player and its collection as the stats tracker sees them. Loop only.
class NoisePlayerPlaybackStateSource final : public PlaybackStateSource {
public:
    explicit NoisePlayerPlaybackStateSource(std::shared_ptr<NoisePlayer> player)
        : player_(std::move(player)) {}

    AsyncStream<NoisePlayerState> subscribeToState() override;
    asio::awaitable<NoisePlayerState> state() override;
    AsyncStream<SelectionChange> subscribeToSelectedSoundTracks() override;
    asio::awaitable<SoundTracks> selectedSoundTracks() override;

private:
    std::shared_ptr<NoisePlayer> player_;
};

} // namespace somnara::app
