#pragma once

#include "PcmBuffer.hpp"

#include <cstdint>

namespace somnara::rt {

/// What the loop asks of the render thread. Trivially copyable, so it crosses in an `SpscQueue`.
struct RenderCommand {
    enum class Kind : std::uint8_t {
        /// Gives a voice to a newly attached player: clears it and sets its generation.
        claimVoice,
        /// Frees a voice: clears it (queued items are reported as flushed).
        releaseVoice,
        schedule,
        play,
        pause,
        /// Clears the queue (items reported as flushed) and rewinds.
        stop,
        /// Sends the voice to the mixer whose id is in `item` (0xff: nowhere).
        route,
        /// Glides the volume, or the pan, from where it is to `value` over `frames` frames (at least the
        /// voice's own smoothing time): a whole fade or pan sweep crosses as one command.
        volume,
        pan,
    };
    Kind kind = Kind::play;
    std::uint16_t voice = 0;
    std::uint32_t generation = 0;
    std::uint64_t item = 0;
    PcmBuffer* buffer = nullptr;
    float value = 0.0F;
    std::uint32_t frames = 0;
};

/// What the render thread tells the loop.
struct RenderEvent {
    enum class Kind : std::uint8_t {
        /// The item's last frame has left the graph at `outputFrame`.
        playedBack,
        /// The item was removed by stop, a voice release or a stale generation, without playing out.
        flushed,
        /// The graph ran dry `count` times (a voice caught up with its decoder).
        underrun,
    };
    Kind kind = Kind::playedBack;
    std::uint16_t voice = 0;
    std::uint32_t generation = 0;
    std::uint64_t item = 0;
    std::int64_t outputFrame = 0;
    std::uint32_t count = 0;
};

} // namespace somnara::rt
