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
/// mixing them for minutes).
struct SampleMemory {
    struct Free {
        void operator()(float* samples) const noexcept { std::free(samples); }
    };
    using Pointer = std::unique_ptr<float[], Free>;

    static Pointer allocate(std::int64_t frames) {
        constexpr std::size_t hugePage = std::size_t{2} << 20U;
        const auto wanted = std::max<std::size_t>(static_cast<std::size_t>(frames), 1) * sizeof(float);
        const std::size_t alignment = wanted >= hugePage ? hugePage : alignof(std::max_align_t);
        const std::size_t bytes = (wanted + alignment - 1) / alignment * alignment;
        void* memory = std::aligned_alloc(alignment, bytes);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        if (alignment == hugePage) {
            madvise(memory, bytes, MADV_HUGEPAGE); // advice only: small pages work as well
        }
        return Pointer{static_cast<float*>(memory)};
    }
};

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
        : left(SampleMemory::allocate(frames)), right(SampleMemory::allocate(frames)), length(frames),
          mono(isMono) {}

    SampleMemory::Pointer left;
    SampleMemory::Pointer right;
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
