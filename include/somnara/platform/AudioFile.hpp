#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace somnara {

/// The format audio is processed in: deinterleaved 32-bit float at this rate and channel count.
struct AudioFormat {
    double sampleRate = 44'100;
    int channelCount = 2;

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

/// Why a file could not be opened or read; `what()` says it for people.
struct AudioFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// An audio file opened for reading. Opening reads only the header and the exact length; frames are
/// decoded on demand by `read`, sequentially from `framePosition`.
///
/// Threads: an instance is used by one thread at a time (the engine's decoding worker); opening is
/// done wherever the caller is, and is cheap.
class AudioFile {
public:
    virtual ~AudioFile() = default;

    virtual const std::filesystem::path& url() const noexcept = 0;
    /// The format `read` delivers: the file's own rate and channel count, deinterleaved float32.
    virtual AudioFormat processingFormat() const noexcept = 0;
    /// The exact number of frames: encoder priming and padding are not counted.
    virtual std::int64_t length() const noexcept = 0;
    /// Whether 16-bit samples keep all the file holds (a 16-bit or lossy source), so that a decoded
    /// copy may be kept in half the memory of float.
    virtual bool fitsSixteenBits() const noexcept { return false; }

    virtual std::int64_t framePosition() const noexcept = 0;
    /// Moves the read position; throws `AudioFileError` when the position is outside the file.
    virtual void seek(std::int64_t frame) = 0;
    /// Decodes up to `frames` frames into `channels[0..channelCount)`; returns how many it wrote, 0 at
    /// the end. Throws `AudioFileError` when the data is damaged.
    virtual std::size_t read(float* const* channels, std::size_t frames) = 0;
};

} // namespace somnara
