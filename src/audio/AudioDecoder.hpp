#pragma once

#include "rt/PcmBuffer.hpp"

#include <somnara/platform/AudioFile.hpp>
#include <somnara/runtime/Loop.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace somnara {

/// Streams scheduled sounds into their `rt::PcmBuffer` rings on a worker thread, ahead of the render
/// thread, resampling (libsoxr) when a file's rate is not the engine's. An item fills its ring as soon as
/// the item before it on its player has been decoded to its end, a ring's length before that one ends, so
/// the next copy of a loop is ready long before the seam; after that the worker tops the rings up half a
/// ring at a time and sleeps in between, a few wake-ups a second however many sounds play. Items take
/// turns a chunk at a time.
///
/// Threads: `decode`, `pending` and the destructor run on the loop, `wake` on whichever thread renders
/// offline; jobs run on the worker, which touches only the job's file and buffer and posts failures to
/// the loop.
class AudioDecoder {
public:
    using FailureHandler = std::function<void(std::string message)>;

    explicit AudioDecoder(FailureHandler onFailure);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    /// The length `file` will have at `outputRate`.
    static std::int64_t lengthAt(const AudioFile& file, double outputRate) noexcept;

    /// Streams `file` into `buffer`. Items with the same `queue` (their player) play one after the other.
    void decode(std::shared_ptr<AudioFile> file, std::shared_ptr<rt::PcmBuffer> buffer, double outputRate,
                const void* queue);
    /// Items whose ring is not yet as full as it can be before they play.
    std::size_t pending() const;
    /// Refills at once rather than on the worker's next round: a render waits for frames.
    void wake();

private:
    struct Job {
        std::shared_ptr<AudioFile> file;
        std::shared_ptr<rt::PcmBuffer> buffer;
        double outputRate = 0;
        const void* queue = nullptr;
    };

    class Decoding;

    void run();

    FailureHandler onFailure_;
    Loop* loop_;
    // Guarded by mutex_ (the loop and the worker; never the render thread).
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::size_t priming_ = 0;
    bool woken_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace somnara
