#pragma once

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/player/NoisePlayerState.hpp>
#include <somnara/runtime/AsyncStream.hpp>

#include <asio/awaitable.hpp>

#include <optional>
#include <unordered_set>

namespace somnara {

/// What the stats tracker needs to know of the player and of the selection it plays: the player's
/// states and the changes of the selected sounds, as streams, and the present value of each, read in
/// their owner's context. The app adapts the noise player and its collection to it; tests script it.
///
/// Loop only.
class PlaybackStateSource {
public:
    /// The same set type as the collection's selection, so that an adapter passes it on unchanged.
    using SoundTracks = std::unordered_set<SoundTrack>;

    /// One change of the selection as the collection publishes it: the sounds before (none in the
    /// first value a subscriber sees) and after.
    struct SelectionChange {
        std::optional<SoundTracks> old_;
        SoundTracks new_;
    };

    virtual ~PlaybackStateSource() = default;

    /// The player's states, starting with the present one.
    [[nodiscard]] virtual AsyncStream<NoisePlayerState> subscribeToState() = 0;
    /// The player's state now, read in the player's context.
    [[nodiscard]] virtual asio::awaitable<NoisePlayerState> state() = 0;
    /// The changes of the selection, as the collection publishes them.
    [[nodiscard]] virtual AsyncStream<SelectionChange> subscribeToSelectedSoundTracks() = 0;
    /// The selected sounds now, read in the collection's context.
    [[nodiscard]] virtual asio::awaitable<SoundTracks> selectedSoundTracks() = 0;
};

} // namespace somnara
