#include <somnara/player/AudioFileFactory.hpp>
#include <somnara/system/DetailedErrorDescription.hpp>
#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <nlohmann/json.hpp>

#include <exception>
#include <string>
#include <utility>

namespace somnara {

namespace {

class Category final : public std::error_category {
public:
    const char* name() const noexcept override { return "SomnaraKit.AudioFileFactoryError"; }

    std::string message(int code) const override {
        switch (static_cast<AudioFileFactory::AudioFileFactoryError>(code)) {
        case AudioFileFactory::AudioFileFactoryError::unableToLoadFile:
            return "unableToLoadFile";
        }
        return "unknown audio file factory error";
    }
};

std::string fileNameWithExtension(SoundTrack soundTrack) {
    std::string name(soundTrack.fileName());
    name += '.';
    name += AudioFileFactory::fileExtension;
    return name;
}

/// The result of a request as the task the callers await. Opening reads only a file's header, so a
/// request runs to its end when it is made; the loop serialises requests, and nothing of the factory
/// is touched after the call returns, so a factory released meanwhile is no concern.
Task<std::shared_ptr<AudioFile>> finished(std::shared_ptr<AudioFile> file) {
    return spawn(
        [file = std::move(file)]() -> asio::awaitable<std::shared_ptr<AudioFile>> { co_return file; });
}

} // namespace

const std::error_category& audioFileFactoryErrorCategory() noexcept {
    static const Category category;
    return category;
}

std::error_code make_error_code(AudioFileFactory::AudioFileFactoryError error) noexcept {
    return {static_cast<int>(error), audioFileFactoryErrorCategory()};
}

std::size_t AudioFileFactory::AudioFileKeyHash::operator()(const AudioFileKey& key) const noexcept {
    // The sound's position in the catalogue, then the flag.
    const std::size_t position = std::hash<SoundTrack>{}(key.soundTrack);
    return position * 2U + (key.lossLess ? 1U : 0U);
}

AudioFileFactory::AudioFileFactory(std::filesystem::path losslessDirectory, Bundle bundle, Opener opener)
    : losslessDirectory_(std::move(losslessDirectory)), bundle_(std::move(bundle)),
      opener_(std::move(opener)) {}

Task<std::shared_ptr<AudioFile>> AudioFileFactory::audioFile(SoundTrack soundTrack) {
    return finished(openAudioFile(soundTrack));
}

Task<std::shared_ptr<AudioFile>> AudioFileFactory::audioFileFromBundleOrCache(SoundTrack soundTrack) {
    return finished(openFromBundleOrCache(soundTrack));
}

std::shared_ptr<AudioFile> AudioFileFactory::openAudioFile(SoundTrack soundTrack) {
    const AudioFileKey key{soundTrack, true};
    if (const auto cached = audioFiles_.find(key); cached != audioFiles_.end()) {
        return cached->second;
    }
    try {
        auto file = opener_(losslessDirectory_ / fileNameWithExtension(soundTrack));
        if (file) {
            SomnaraLogger::log("Loaded lossless audio file " + file->url().filename().string(),
                               LogType::debug);
            audioFiles_.emplace(key, file);
            return file;
        }
        throw AudioFileError("the opener returned no file");
    } catch (const std::exception& error) {
        // Typically not downloaded yet. Nothing is remembered: the next request looks again.
        SomnaraLogger::log(std::string("Failed to load lossless audio file ") + error.what(), LogType::error);
    }
    return openFromBundleOrCache(soundTrack);
}

std::shared_ptr<AudioFile> AudioFileFactory::openFromBundleOrCache(SoundTrack soundTrack) {
    const AudioFileKey key{soundTrack, false};
    if (const auto cached = audioFiles_.find(key); cached != audioFiles_.end()) {
        return cached->second;
    }
    try {
        const auto url = bundle_.url(soundTrack.fileName(), fileExtension, bundleSubdirectory);
        if (!url) {
            throw std::system_error(make_error_code(AudioFileFactoryError::unableToLoadFile));
        }
        auto file = opener_(*url);
        if (!file) {
            throw AudioFileError("the opener returned no file");
        }
        SomnaraLogger::log("Loaded bundle audio file " + file->url().filename().string(), LogType::debug);
        audioFiles_.emplace(key, file);
        return file;
    } catch (const std::exception& error) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(
            std::string("Failed to load audio file ") + error.what(), sourceFile,
            "audioFileFromBundleOrCache(for:)", 69);
        EventLogger::logEvent("failed_to_load_audio_files",
                              nlohmann::json{{"error", detailedErrorDescription(error)}});
    }
    return nullptr;
}

} // namespace somnara
