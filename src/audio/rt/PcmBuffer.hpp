#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace somnara::rt {

/// One decoded sound at the engine's rate, stereo, shared by every queued copy of it. The decoding
/// worker fills it front to back and publishes its progress in `ready_`; the render thread plays
/// only frames below `ready_`.
///
/// Memory: length × 2 channels × 4 bytes at the output rate (a 30 s loop at 44.1 kHz is 10.6 MB),
/// once per playing sound however many copies of it are queued.
///
/// Threads: made and destroyed on the loop (never by the render thread: the engine keeps it alive
/// until the render thread has reported every item that uses it); the samples are written by the
/// worker before the release store of `ready_`, and read by the render thread after an acquire load.
struct PcmBuffer {
    PcmBuffer(std::int64_t frames, bool isMono)
        : left(static_cast<std::size_t>(frames)), right(static_cast<std::size_t>(frames)), length(frames),
          mono(isMono) {}

    std::vector<float> left;
    std::vector<float> right;
    // Immutable after construction.
    const std::int64_t length;
    /// A mono source (both channels equal), panned with the mono law.
    const bool mono;
    /// Frames decoded so far; only grows.
    std::atomic<std::int64_t> ready_{0};
    /// No more frames will come: `ready_` is final, and shorter than `length` when decoding failed.
    std::atomic<bool> complete_{false};
    /// Bumped by the worker after each publication, so an offline render can wait for progress.
    std::atomic<std::uint32_t> epoch_{0};
    /// Set on the loop when nothing needs the buffer any more, so the worker can stop early.
    std::atomic<bool> abandoned_{false};
};

} // namespace somnara::rt
