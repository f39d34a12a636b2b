#pragma once

#include <somnara/audio/AudioPcmBuffer.hpp>
#include <somnara/platform/AudioFile.hpp>

#include <algorithm>
#include <memory>

namespace somnara {

/// Audio in memory seen as a file, so that scheduled buffers take the same road as scheduled files
/// (resampled, streamed through a ring). Used by the decoding worker only.
class PcmBufferAudioFile final : public AudioFile {
public:
    explicit PcmBufferAudioFile(std::shared_ptr<const AudioPcmBuffer> buffer)
        : buffer_(std::move(buffer)), format_{buffer_->format.sampleRate,
                                              std::max(1, std::min<int>(2, static_cast<int>(
                                                                               buffer_->channels.size())))} {}

    const std::filesystem::path& url() const noexcept override { return url_; }
    AudioFormat processingFormat() const noexcept override { return format_; }
    std::int64_t length() const noexcept override { return buffer_->frameLength(); }
    std::int64_t framePosition() const noexcept override { return position_; }

    void seek(std::int64_t frame) override {
        if (frame < 0 || frame > length()) {
            throw AudioFileError("seek outside the buffer");
        }
        position_ = frame;
    }

    std::size_t read(float* const* channels, std::size_t frames) override {
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(frames), length() - position_));
        if (buffer_->channels.empty()) {
            return 0;
        }
        for (int c = 0; c < format_.channelCount; ++c) {
            const auto& source = buffer_->channels[static_cast<std::size_t>(c)];
            std::copy_n(source.begin() + position_, count, channels[c]);
        }
        position_ += static_cast<std::int64_t>(count);
        return count;
    }

private:
    std::shared_ptr<const AudioPcmBuffer> buffer_;
    AudioFormat format_;
    std::filesystem::path url_{"memory"};
    std::int64_t position_ = 0;
};

} // namespace somnara
