#pragma once

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/foundation/Bundle.hpp>
#include <somnara/platform/AudioFile.hpp>
#include <somnara/runtime/Task.hpp>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <type_traits>
#include <unordered_map>

namespace somnara {

/// Hands out the opened audio file of a sound, ready to be scheduled on a player node: the downloaded
/// lossless copy when there is one, else the compressed copy among the library's resources. Opened files
/// are kept for the life of the factory, one per sound and quality, so that the loop tasks of a node,
/// which ask for the file every time they queue it, get the same object (and the engine decodes it once).
///
/// Threads: loop only. One request runs at a time; the returned files are shared between callers.
class AudioFileFactory {
public:
    /// Opens a file for reading; throws `AudioFileError` when it cannot.
    using Opener = std::function<std::shared_ptr<AudioFile>(const std::filesystem::path&)>;

    /// Thrown (as a `std::system_error` carrying this code) when the resources hold no copy of a sound.
    enum class AudioFileFactoryError { unableToLoadFile = 1 };

    /// A sound and which of its copies.
    struct AudioFileKey {
        SoundTrack soundTrack;
        /// The downloaded lossless copy when true, the copy among the resources when false.
        bool lossLess = false;

        friend bool operator==(const AudioFileKey&, const AudioFileKey&) = default;
    };
    struct AudioFileKeyHash {
        std::size_t operator()(const AudioFileKey& key) const noexcept;
    };

    static constexpr const char* sourceFile = "SomnaraKit/AudioFileFactory";
    /// The extension of both copies.
    static constexpr const char* fileExtension = "m4a";
    /// The folder of the library's resources that holds the sounds' compressed copies.
    static constexpr const char* bundleSubdirectory = "sounds";

    /// `losslessDirectory`: where the downloaded lossless copies live ("sounds" in the documents
    /// directory); `bundle`: where the compressed copies are (`Bundle::module()` in the app).
    AudioFileFactory(std::filesystem::path losslessDirectory, Bundle bundle, Opener opener);

    const std::filesystem::path& losslessDirectory() const noexcept { return losslessDirectory_; }

    /// The lossless copy if it opens, else the resources' copy; none when neither can be had. A failed
    /// lossless attempt is not remembered, so a copy downloaded later is used from the next request on.
    /// Never throws.
    [[nodiscard]] Task<std::shared_ptr<AudioFile>> audioFile(SoundTrack soundTrack);
    /// The resources' copy alone; none (with a logged assertion and an analytics event) when it cannot
    /// be opened.
    [[nodiscard]] Task<std::shared_ptr<AudioFile>> audioFileFromBundleOrCache(SoundTrack soundTrack);

private:
    std::shared_ptr<AudioFile> openAudioFile(SoundTrack soundTrack);
    std::shared_ptr<AudioFile> openFromBundleOrCache(SoundTrack soundTrack);

    // Immutable after construction.
    const std::filesystem::path losslessDirectory_;
    const Bundle bundle_;
    const Opener opener_;
    // Loop only. Only grows: an entry is never removed or replaced.
    std::unordered_map<AudioFileKey, std::shared_ptr<AudioFile>, AudioFileKeyHash> audioFiles_;
};

/// The category of the factory's errors; its name, "SomnaraKit.AudioFileFactoryError", is the domain a
/// detailed error description shows.
const std::error_category& audioFileFactoryErrorCategory() noexcept;
std::error_code make_error_code(AudioFileFactory::AudioFileFactoryError error) noexcept;

} // namespace somnara

template <>
struct std::is_error_code_enum<somnara::AudioFileFactory::AudioFileFactoryError> : std::true_type {};
