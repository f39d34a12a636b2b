// One fuzz input through the FFmpeg reader: whatever the bytes, opening and reading either works or
// throws AudioFileError; a crash, a hang, a leak or any other exception is a bug.

#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The reader opens paths, so each input is written to a file of this process first (in memory when
// /dev/shm exists).
const std::filesystem::path& inputPath() {
    static const std::filesystem::path path = [] {
        const std::filesystem::path shm = "/dev/shm";
        const auto dir = std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
        return dir / ("somnara-fuzz-" + std::to_string(::getpid()) + ".m4a");
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& path = inputPath();
    if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
    } else {
        return 0;
    }
    try {
        somnara::FfmpegAudioFile file(path);
        const auto format = file.processingFormat();
        std::vector<std::vector<float>> buffers(static_cast<std::size_t>(format.channelCount),
                                                std::vector<float>(4096));
        std::vector<float*> channels;
        for (auto& buffer : buffers) {
            channels.push_back(buffer.data());
        }
        // A damaged header may claim any length; the data runs out long before a real bound.
        std::size_t total = 0;
        while (total < (1U << 22)) {
            const std::size_t got = file.read(channels.data(), 4096);
            if (got == 0) {
                break;
            }
            total += got;
        }
        if (file.length() > 0) {
            file.seek(file.length() / 2);
            file.read(channels.data(), 4096);
        }
    } catch (const somnara::AudioFileError&) {
        // The expected outcome for most inputs.
    }
    return 0;
}
