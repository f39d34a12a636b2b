#pragma once

// An in-memory audio file for tests of code that reads `AudioFile`s: the engine's own in-memory file
// under a name of the test's choosing, damaged on request, counting how often it was read through.

#include "audio/PcmBufferAudioFile.hpp"

#include <atomic>
#include <filesystem>
#include <memory>
#include <vector>

namespace somnara::test {

class MemoryAudioFile final : public AudioFile {
public:
    MemoryAudioFile(std::vector<std::vector<float>> channels, double sampleRate,
                    std::filesystem::path url = "memory.wav")
        : url_(std::move(url)), file_(std::make_shared<const AudioPcmBuffer>(AudioPcmBuffer{
                                    {sampleRate, static_cast<int>(channels.size())}, std::move(channels)})) {}

    /// A stereo file with the same samples on both channels, or different ones.
    static std::shared_ptr<MemoryAudioFile> stereo(std::vector<float> left, std::vector<float> right,
                                                   double sampleRate) {
        return std::make_shared<MemoryAudioFile>(
            std::vector<std::vector<float>>{std::move(left), std::move(right)}, sampleRate);
    }

    const std::filesystem::path& url() const noexcept override { return url_; }
    AudioFormat processingFormat() const noexcept override { return file_.processingFormat(); }
    std::int64_t length() const noexcept override {
        return statedLength_ >= 0 ? statedLength_ : file_.length();
    }
    std::int64_t framePosition() const noexcept override { return file_.framePosition(); }
    void seek(std::int64_t frame) override { file_.seek(frame); }

    std::size_t read(float* const* channels, std::size_t frames) override {
        if (failAt_ >= 0 && framePosition() >= failAt_) {
            throw AudioFileError("damaged data");
        }
        const auto count = file_.read(channels, frames);
        if (count > 0 && framePosition() == file_.length()) {
            readThrough_.fetch_add(1, std::memory_order_relaxed);
        }
        return count;
    }

    /// Claims `frames` as its length whatever it holds, as a decoder's estimate may.
    void stateLength(std::int64_t frames) { statedLength_ = frames; }
    /// Reads at or after `frame` throw, as damaged data does.
    void failAt(std::int64_t frame) { failAt_ = frame; }
    /// Times the file was read to its end (decoded once means 1). Any thread.
    int readThroughCount() const noexcept { return readThrough_.load(std::memory_order_relaxed); }

private:
    std::filesystem::path url_;
    PcmBufferAudioFile file_;
    std::int64_t statedLength_ = -1;
    std::int64_t failAt_ = -1;
    std::atomic<int> readThrough_{0};
};

} // namespace somnara::test
