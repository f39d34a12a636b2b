#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace somnara::rt {

/// Sample memory for one channel of a decoded sound: left uninitialised, because the worker writes every
/// frame before publishing it, and asked for huge pages, so that a 30 s sound costs a handful of page
/// faults instead of thousands (zeroing and faulting in 85 MB for eight sounds took longer than
/// mixing them for minutes). Only whole huge pages are advised: a partly used one at the end would
/// be resident in full.
template <class Sample>
struct SampleMemory {
    struct Free {
        void operator()(Sample* samples) const noexcept { std::free(samples); }
    };
    using Pointer = std::unique_ptr<Sample[], Free>;

    static Pointer allocate(std::int64_t frames) {
        constexpr std::size_t hugePage = std::size_t{2} << 20U;
        const auto wanted = std::max<std::size_t>(static_cast<std::size_t>(frames), 1) * sizeof(Sample);
        const std::size_t alignment = wanted >= hugePage ? hugePage : alignof(std::max_align_t);
        const std::size_t bytes = (wanted + alignment - 1) / alignment * alignment;
        void* memory = std::aligned_alloc(alignment, bytes);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        if (alignment == hugePage) {
            madvise(memory, wanted / hugePage * hugePage, MADV_HUGEPAGE); // advice only
        }
        return Pointer{static_cast<Sample*>(memory)};
    }
};

/// One decoded sound at the engine's rate, stereo, shared by every queued copy of it. The decoding
/// worker fills it front to back and publishes its progress in `ready_`; the render thread plays
/// only frames below `ready_`.
///
/// Memory: length × 2 channels × 2 bytes at the output rate for a sound whose source has 16 bits
/// (every file of the catalogue: a 30 s loop at 48 kHz is 5.8 MB), 4 bytes (float) otherwise; once per
/// playing sound however many copies of it are queued. Exactly one of the two pairs of channels is
/// allocated.
///
/// Threads: made and destroyed on the loop (never by the render thread: the engine keeps it alive
/// until the render thread has reported every item that uses it); the samples are written by the
/// worker before the release store of `ready_`, and read by the render thread after an acquire load.
struct PcmBuffer {
    PcmBuffer(std::int64_t frames, bool isMono, bool isSixteenBit = false)
        : length(frames), mono(isMono), sixteenBit(isSixteenBit) {
        if (sixteenBit) {
            left16 = SampleMemory<std::int16_t>::allocate(frames);
            right16 = SampleMemory<std::int16_t>::allocate(frames);
        } else {
            left = SampleMemory<float>::allocate(frames);
            right = SampleMemory<float>::allocate(frames);
        }
    }

    std::size_t bytes() const noexcept {
        return 2 * static_cast<std::size_t>(length) * (sixteenBit ? sizeof(std::int16_t) : sizeof(float));
    }

    SampleMemory<float>::Pointer left;
    SampleMemory<float>::Pointer right;
    /// Full scale is 32768.
    SampleMemory<std::int16_t>::Pointer left16;
    SampleMemory<std::int16_t>::Pointer right16;
    // Immutable after construction.
    const std::int64_t length;
    /// A mono source (both channels equal), panned with the mono law.
    const bool mono;
    const bool sixteenBit;
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
