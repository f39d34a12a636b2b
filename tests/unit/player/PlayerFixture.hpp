#pragma once

#include "support/LogLines.hpp"
#include "support/MemoryAudioFile.hpp"
#include "support/Recorders.hpp"
#include "support/SignalMeasurements.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/player/AudioFileFactory.hpp>
#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace somnara::test {

/// A factory over temporary folders whose files the test puts in place, counting each file it opens.
struct AudioFiles {
    std::filesystem::path bundleCopyPath(SoundTrack soundTrack) const {
        return bundleDirectory / AudioFileFactory::bundleSubdirectory /
               (std::string(soundTrack.fileName()) + ".m4a");
    }

    /// Puts `file` in the resources as the sound's compressed copy.
    void addBundleCopy(SoundTrack soundTrack, std::shared_ptr<AudioFile> file) {
        const auto path = bundleCopyPath(soundTrack);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream{path} << "m4a";
        files[path] = std::move(file);
    }

    /// Puts `file` in the sounds folder, as a finished download does.
    void addLosslessCopy(SoundTrack soundTrack, std::shared_ptr<AudioFile> file) {
        files[losslessDirectory.path() / (std::string(soundTrack.fileName()) + ".m4a")] = std::move(file);
    }

    /// A short stereo file of noise (the left channel `makeNoise(frames, 0.5, seed)`, the right one its
    /// negation), named as the sound's file would be.
    static std::shared_ptr<MemoryAudioFile> memoryFile(SoundTrack soundTrack, std::size_t frames = 441,
                                                       unsigned long long seed = 1) {
        auto left = makeNoise(frames, 0.5, seed);
        std::vector<float> right(left.size());
        std::transform(left.begin(), left.end(), right.begin(), [](float x) { return -x; });
        return std::make_shared<MemoryAudioFile>(
            std::vector<std::vector<float>>{std::move(left), std::move(right)}, 44'100,
            std::string(soundTrack.fileName()) + ".m4a");
    }

    std::shared_ptr<AudioFileFactory> makeFactory() {
        return std::make_shared<AudioFileFactory>(
            losslessDirectory.path(), Bundle(bundleDirectory), [this](const std::filesystem::path& path) {
                ++openCounts[path];
                const auto found = files.find(path);
                if (found == files.end()) {
                    throw AudioFileError("The file \"" + path.filename().string() + "\" couldn't be opened.");
                }
                return found->second;
            });
    }

    TemporaryDirectory root;
    TemporaryDirectory losslessDirectory;
    std::filesystem::path bundleDirectory = root.path();
    std::map<std::filesystem::path, std::shared_ptr<AudioFile>> files;
    std::map<std::filesystem::path, int> openCounts;
};

/// A loop, audio files, and recorders of the log lines, logged assertions and analytics events of the
/// player's parts.
class PlayerTest : public LoopTest, protected AudioFiles {
protected:
    PlayerTest() {
        EventLogger::setLaunchArgumentsForTesting(std::vector<std::string>{"test"});
        logLines().clear();
    }
    ~PlayerTest() override { EventLogger::setLaunchArgumentsForTesting(std::nullopt); }

    AnalyticsRecorder analytics;
};

} // namespace somnara::test
