#pragma once

// An in-memory audio file for tests of code that reads `AudioFile`s: the samples are given, the
// length is exact, reads are sequential like a decoder's, and it counts how often it was read through.

#include <somnara/platform/AudioFile.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace somnara::test {

class MemoryAudioFile final : public AudioFile {
public:
    MemoryAudioFile(std::vector<std::vector<float>> channels, double sampleRate,
                    std::filesystem::path url = "memory.wav")
        : channels_(std::move(channels)),
          url_(std::move(url)), format_{sampleRate, static_cast<int>(channels_.size())} {}

    /// A stereo file with the same samples on both channels, or different ones.
    static std::shared_ptr<MemoryAudioFile> stereo(std::vector<float> left, std::vector<float> right,
                                                   double sampleRate) {
        return std::make_shared<MemoryAudioFile>(
            std::vector<std::vector<float>>{std::move(left), std::move(right)}, sampleRate);
    }

    const std::filesystem::path& url() const noexcept override { return url_; }
    AudioFormat processingFormat() const noexcept override { return format_; }
    std::int64_t length() const noexcept override {
        return channels_.empty() ? 0 : static_cast<std::int64_t>(channels_[0].size());
    }
    std::int64_t framePosition() const noexcept override { return position_; }

    void seek(std::int64_t frame) override {
        if (frame < 0 || frame > length()) {
            throw AudioFileError("seek outside the file");
        }
        position_ = frame;
    }

    std::size_t read(float* const* channels, std::size_t frames) override {
        if (failAt_ >= 0 && position_ >= failAt_) {
            throw AudioFileError("damaged data");
        }
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(frames), length() - position_));
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            std::copy_n(channels_[c].begin() + position_, count, channels[c]);
        }
        position_ += static_cast<std::int64_t>(count);
        if (count > 0 && position_ == length()) {
            readThrough_.fetch_add(1, std::memory_order_relaxed);
        }
        return count;
    }

    /// Reads at or after `frame` throw, as damaged data does.
    void failAt(std::int64_t frame) { failAt_ = frame; }
    /// Times the file was read to its end (decoded once means 1). Any thread.
    int readThroughCount() const noexcept { return readThrough_.load(std::memory_order_relaxed); }

private:
    std::vector<std::vector<float>> channels_;
    std::filesystem::path url_;
    AudioFormat format_;
    std::int64_t position_ = 0;
    std::int64_t failAt_ = -1;
    std::atomic<int> readThrough_{0};
};

} // namespace somnara::test
