#pragma once

#include <somnara/downloads/AWSSigner.hpp>
#include <somnara/downloads/BucketConfiguration.hpp>
#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/platform/AudioFile.hpp>
#include <somnara/platform/TransferSession.hpp>
#include <somnara/runtime/Task.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace somnara {

/// Keeps a lossless copy of every sound of the catalogue in "sounds" in the documents directory,
/// fetching the missing ones from the download bucket with presigned requests in a transfer session
/// ("sound_downloads") whose transfers outlive the process: a transfer cut short by the end of the
/// process runs again when the session is next opened. The audio file factory opens these copies in
/// preference to the compressed ones; screens observe `state`.
///
/// Downloads are written beside the sounds directory, never in it, and reach it by a rename only once
/// they open as audio with at least one frame: the directory holds whole sounds or nothing.
///
/// Threads: loop only; transfer events arrive on the loop.
class SoundsDownloader final : public TransferSessionDelegate,
                               public std::enable_shared_from_this<SoundsDownloader> {
    struct Private {};

public:
    /// The progress of the synchronisation.
    class State {
    public:
        enum class Kind { downloading, notSynced, downloaded };

        /// Some sounds are present and more are expected; `progress` in [0, 1) is the fraction present.
        static State downloading(float progress) noexcept { return State(Kind::downloading, progress); }
        static State notSynced() noexcept { return State(Kind::notSynced, 0); }
        static State downloaded() noexcept { return State(Kind::downloaded, 0); }
        /// The state for the fraction `progress` of the sounds present; none outside [0, 1].
        static std::optional<State> fromProgress(float progress) noexcept;

        Kind kind() const noexcept { return kind_; }
        float progress() const noexcept { return progress_; }
        std::string description() const;

        friend bool operator==(const State&, const State&) = default;

    private:
        State(Kind kind, float progress) noexcept : kind_(kind), progress_(progress) {}
        Kind kind_;
        float progress_;
    };

    /// Bytes and tasks of the transfers this process has run, for progress displays.
    struct TransferProgress {
        std::size_t tasksScheduled = 0;
        std::size_t tasksCompleted = 0;
        std::int64_t bytesWritten = 0;
    };

    /// Thrown by `sync` when there is nothing to download from.
    enum class SoundsDownloaderError { noBucketConfigured = 1 };

    /// Opens an audio file for reading; throws when it cannot (`openAudioFile` in the app).
    using Opener = std::function<std::unique_ptr<AudioFile>(const std::filesystem::path&)>;

    static constexpr const char* sourceFile = "SomnaraKit/SoundsDownloader";
    static constexpr const char* sessionIdentifier = "sound_downloads";
    static constexpr std::chrono::seconds startDelay{10};
    static constexpr std::chrono::seconds presignedURLExpiry{86400};

    /// `documentsDirectory`: the app's documents (see `FileLocations::requireDocumentsDirectory`); the
    /// sounds go to "sounds" inside it and the downloads run beside. Without a bucket nothing is
    /// downloaded (one log line says so). With `synchronisesAtStart`, a synchronisation runs 10 s after
    /// creation on the continuous clock (the app's foreground download asks for one itself instead).
    static std::shared_ptr<SoundsDownloader> make(std::filesystem::path documentsDirectory,
                                                  std::optional<BucketConfiguration> bucket,
                                                  TransferSession::Factory sessionFactory, Opener opener,
                                                  bool synchronisesAtStart = true);
    SoundsDownloader(Private, std::filesystem::path documentsDirectory,
                     std::optional<BucketConfiguration> bucket, TransferSession::Factory sessionFactory,
                     Opener opener);
    ~SoundsDownloader() override;

    const State& state() const noexcept { return stateSubject_->currentValue(); }
    /// The state now and every change after.
    [[nodiscard]] AsyncStream<State> stateUpdates() { return stateSubject_->subscribe(); }

    const std::function<void()>& backgroundCompletionHandler() const noexcept {
        return backgroundCompletionHandler_;
    }
    /// Called, on the loop, each time the session has delivered all the events of its transfers.
    void setBackgroundCompletionHandler(std::function<void()> handler) {
        backgroundCompletionHandler_ = std::move(handler);
    }

    const std::filesystem::path& soundsDirectory() const noexcept { return soundsDirectory_; }
    bool hasBucket() const noexcept { return signer_ != nullptr; }
    const TransferProgress& transferProgress() const noexcept { return transferProgress_; }
    /// The sounds without a file in the sounds directory, counted on the disk now.
    std::size_t missingSoundsCount() const;

    /// Schedules a download for every missing sound; returns how many were scheduled (none when every
    /// sound is present). Throws `SoundsDownloaderError` without a bucket and the file system's error
    /// when the sounds directory cannot be made.
    [[nodiscard]] Task<std::size_t> sync();
    /// Removes the sounds directory with everything in it; the state stays as it is.
    [[nodiscard]] Task<void> clearCacheDirectory();

    // The transfer session's events.
    void didFinishDownloading(const DownloadTask& task, const std::filesystem::path& location) override;
    void didBecomeInvalid(const std::optional<std::string>& error) override;
    void didFinishEvents() override;
    void didWriteData(const DownloadTask& task, std::int64_t totalBytesWritten,
                      std::int64_t totalBytesExpected) override;
    void didComplete(const DownloadTask& task, const std::optional<std::string>& error) override;

private:
    std::size_t synchronise();
    void setState(float progress);
    void startObservation();

    // Immutable after construction.
    const std::filesystem::path documentsDirectory_;
    const std::filesystem::path soundsDirectory_;
    const std::optional<BucketConfiguration> bucket_;
    const std::unique_ptr<const AWSSigner> signer_;
    const TransferSession::Factory sessionFactory_;
    const Opener opener_;
    // Loop only.
    std::shared_ptr<AsyncCurrentValueSubject<State>> stateSubject_;
    std::function<void()> backgroundCompletionHandler_;
    std::shared_ptr<TransferSession> session_;
    Task<void> observationTask_;
    TransferProgress transferProgress_;
    std::map<std::uint64_t, std::int64_t> bytesOfRunningTasks_;
};

const std::error_category& soundsDownloaderErrorCategory() noexcept;
std::error_code make_error_code(SoundsDownloader::SoundsDownloaderError error) noexcept;

} // namespace somnara

template <>
struct std::is_error_code_enum<somnara::SoundsDownloader::SoundsDownloaderError> : std::true_type {};
