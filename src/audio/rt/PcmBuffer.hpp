#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace somnara::rt {

/// One scheduled item's decoded samples at the engine's rate, stereo, streamed through a ring: the
/// decoding worker writes frame n at n mod `capacity` once the render thread has consumed the frame
/// that was there, and publishes its progress in `ready_`; the render thread plays only frames below
/// `ready_` and publishes what it has consumed in `consumed_`. An item no longer than the ring is simply
/// held whole. A night of eight looping sounds then costs eight rings, not eight decoded files.
///
/// Memory: `capacity` × 2 channels × 2 bytes for a sound whose source has 16 bits (every file of the
/// catalogue), 4 bytes (float) otherwise; exactly one of the two pairs of channels is allocated, and
/// left uninitialised, because the worker writes every frame before publishing it.
///
/// Threads: made and destroyed on the loop (never by the render thread: the engine keeps it alive
/// until the render thread has reported the item); samples are written by the worker before the release
/// store of `ready_` and read by the render thread after an acquire load, and the render thread is done
/// with a frame before its release store of `consumed_`.
struct PcmBuffer {
    /// Frames a ring holds: about 1.5 s, which the worker tops up half a ring at a time.
    static constexpr std::int64_t ringFrames = std::int64_t{1} << 16;

    PcmBuffer(std::int64_t frames, bool isSixteenBit = false)
        : length(frames), capacity(std::clamp<std::int64_t>(frames, 1, ringFrames)),
          sixteenBit(isSixteenBit) {
        const auto size = static_cast<std::size_t>(capacity);
        if (sixteenBit) {
            left16 = std::make_unique_for_overwrite<std::int16_t[]>(size);
            right16 = std::make_unique_for_overwrite<std::int16_t[]>(size);
        } else {
            left = std::make_unique_for_overwrite<float[]>(size);
            right = std::make_unique_for_overwrite<float[]>(size);
        }
    }

    std::size_t bytes() const noexcept {
        return 2 * static_cast<std::size_t>(capacity) * (sixteenBit ? sizeof(std::int16_t) : sizeof(float));
    }

    /// Where frame `frame` of the item lives in the ring.
    std::size_t slot(std::int64_t frame) const noexcept { return static_cast<std::size_t>(frame % capacity); }

    std::unique_ptr<float[]> left;
    std::unique_ptr<float[]> right;
    /// Full scale is 32768.
    std::unique_ptr<std::int16_t[]> left16;
    std::unique_ptr<std::int16_t[]> right16;
    // Immutable after construction.
    const std::int64_t length;
    const std::int64_t capacity;
    const bool sixteenBit;
    /// Set before the item is scheduled. An offline render calls it when it waits for frames, so that the
    /// worker refills at once instead of on its next round.
    std::function<void()> wakeWriter;
    /// Frames decoded so far; only grows.
    std::atomic<std::int64_t> ready_{0};
    /// Frames the render thread is done with; only grows. The worker writes up to `consumed_ + capacity`.
    std::atomic<std::int64_t> consumed_{0};
    /// No more frames will come: `ready_` is final, and shorter than `length` when decoding failed.
    std::atomic<bool> complete_{false};
    /// Bumped by the worker after each publication, so an offline render can wait for progress.
    std::atomic<std::uint32_t> epoch_{0};
    /// Set on the loop when nothing needs the buffer any more, so the worker can stop early.
    std::atomic<bool> abandoned_{false};
};

} // namespace somnara::rt
