#pragma once

#include "support/AudioFileContents.hpp"

#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>

#include <soundgen/Sounds.hpp>
#include <soundgen/Synth.hpp>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace somnara::test {

inline const std::filesystem::path binaryDir = SOMNARA_BINARY_DIR;
inline const std::filesystem::path compressedDir = binaryDir / "resources" / "sounds";
inline const std::filesystem::path losslessDir = binaryDir / "bucket";
inline const std::filesystem::path rateTestDir = binaryDir / "test-sounds" / "48000";

/// What the build generates: 30 s loops at 44.1 kHz (and at 48 kHz for a few), seed 1.
inline constexpr double loopSeconds = 30;
inline constexpr std::uint64_t generatorSeed = 1;

inline std::vector<std::string> soundNames() {
    std::vector<std::string> names;
    for (const auto& recipe : soundgen::soundRecipes()) {
        names.emplace_back(recipe.fileName);
    }
    return names;
}

/// A generated sound: where its lossless and compressed copies are, and at what rate it was made.
struct GeneratedSound {
    std::string name;
    std::filesystem::path lossless;
    std::filesystem::path compressed;
    double rate;
};

/// Every sound at 44.1 kHz, and the few also made at 48 kHz.
inline std::vector<GeneratedSound> generatedSounds() {
    std::vector<GeneratedSound> sounds;
    for (const auto& name : soundNames()) {
        sounds.push_back({name, losslessDir, compressedDir, 44'100});
    }
    for (const auto* name : {"pink", "drip", "bowl", "train"}) {
        sounds.push_back({name, rateTestDir / "alac", rateTestDir / "aac", 48'000});
    }
    return sounds;
}

/// Decodes a whole file.
inline soundgen::Stereo decode(const std::filesystem::path& path) {
    FfmpegAudioFile file(path);
    auto contents = readToEnd(file);
    return {std::move(contents.left), std::move(contents.right)};
}

/// Runs `body(i)` for i in [0, count) on both cores.
template <class Body>
void parallelFor(std::size_t count, Body body) {
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            body(i);
        }
    };
    std::thread helper(work);
    work();
    helper.join();
}

} // namespace somnara::test
