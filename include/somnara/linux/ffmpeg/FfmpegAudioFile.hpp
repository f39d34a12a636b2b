#pragma once

#include <somnara/platform/AudioFile.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>

namespace somnara {

/// An audio file read through FFmpeg (any container and codec it knows; in practice the ".m4a" sounds,
/// AAC and ALAC). Lengths are sample-exact: encoder priming is dropped, and the end padding that the
/// decoder keeps is trimmed to the length the file stores (its edit list or an "iTunSMPB" tag).
///
/// Threads: opening reads the header only and may run anywhere, the loop included; `read` and `seek`
/// decode and belong on a worker. One thread at a time uses an instance.
class FfmpegAudioFile final : public AudioFile {
public:
    /// Opens `url` for reading; throws `AudioFileError` saying why when the file is missing, empty,
    /// unreadable or holds no decodable audio.
    explicit FfmpegAudioFile(std::filesystem::path url);
    ~FfmpegAudioFile() override;
    FfmpegAudioFile(const FfmpegAudioFile&) = delete;
    FfmpegAudioFile& operator=(const FfmpegAudioFile&) = delete;

    const std::filesystem::path& url() const noexcept override;
    AudioFormat processingFormat() const noexcept override;
    std::int64_t length() const noexcept override;
    bool fitsSixteenBits() const noexcept override;
    std::int64_t framePosition() const noexcept override;
    void seek(std::int64_t frame) override;
    std::size_t read(float* const* channels, std::size_t frames) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Opens an audio file for reading with the back end this build uses; throws `AudioFileError`.
[[nodiscard]] std::unique_ptr<AudioFile> openAudioFile(const std::filesystem::path& url);

} // namespace somnara
