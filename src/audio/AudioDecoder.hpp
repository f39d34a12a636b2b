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

/// Decodes scheduled sounds into `rt::PcmBuffer`s on a worker thread, ahead of the render thread,
/// resampling once (libsoxr) when a file's rate is not the engine's. It publishes progress as it goes,
/// so a sound can start before it is fully decoded, and decodes the sounds it has a chunk at a time
/// each, in turn.
///
/// Threads: `decode`, `pending` and the destructor run on the loop; jobs run on the worker, which
/// touches only the job's file and buffer and posts failures to the loop.
class AudioDecoder {
public:
    using FailureHandler = std::function<void(std::string message)>;

    explicit AudioDecoder(FailureHandler onFailure);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    /// The length `file` will have at `outputRate`.
    static std::int64_t lengthAt(const AudioFile& file, double outputRate) noexcept;

    void decode(std::shared_ptr<AudioFile> file, std::shared_ptr<rt::PcmBuffer> buffer, double outputRate);
    std::size_t pending() const;

private:
    struct Job {
        std::shared_ptr<AudioFile> file;
        std::shared_ptr<rt::PcmBuffer> buffer;
        double outputRate = 0;
    };

    class Decoding;

    void run();

    FailureHandler onFailure_;
    Loop* loop_;
    // Guarded by mutex_ (the loop and the worker; never the render thread).
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::size_t running_ = 0;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace somnara
