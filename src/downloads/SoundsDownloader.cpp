#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/downloads/SoundsDownloader.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <charconv>
#include <cmath>
#include <exception>
#include <system_error>
#include <utility>

namespace somnara {

namespace {

namespace fs = std::filesystem;

constexpr const char* handleFunction = "handle(downloadTask:didFinishDownloadingTo:)";

class Category final : public std::error_category {
public:
    const char* name() const noexcept override { return "SomnaraKit.SoundsDownloaderError"; }
    std::string message(int) const override { return "noBucketConfigured"; }
};

/// The shortest text that reads back as the same float ("0.2", not "0.200000003").
std::string shortest(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return {text, end};
}

fs::path localPath(const fs::path& soundsDirectory, SoundTrack soundTrack) {
    return soundsDirectory / (std::string(soundTrack.fileName()) + ".m4a");
}

/// The last path component of a URL, without its query: the object's name.
std::string lastPathComponent(const std::string& url) {
    const auto path = url.substr(0, url.find_first_of("?#"));
    const auto schemeEnd = path.find("://");
    const auto start = path.rfind('/');
    if (start == std::string::npos || (schemeEnd != std::string::npos && start < schemeEnd + 3)) {
        return {};
    }
    return path.substr(start + 1);
}

Task<void> finished() {
    return spawn([]() -> asio::awaitable<void> { co_return; });
}

} // namespace

const std::error_category& soundsDownloaderErrorCategory() noexcept {
    static const Category category;
    return category;
}

std::error_code make_error_code(SoundsDownloader::SoundsDownloaderError error) noexcept {
    return {static_cast<int>(error), soundsDownloaderErrorCategory()};
}

std::string SoundsDownloader::State::description() const {
    switch (kind_) {
    case Kind::downloading:
        return "downloading(progress: " + shortest(progress_) + ")";
    case Kind::notSynced:
        return "notSynced";
    case Kind::downloaded:
        return "downloaded";
    }
    return {};
}

std::shared_ptr<SoundsDownloader> SoundsDownloader::make(fs::path documentsDirectory,
                                                         std::optional<BucketConfiguration> bucket,
                                                         TransferSession::Factory sessionFactory,
                                                         Opener opener, bool synchronisesAtStart) {
    auto downloader =
        std::make_shared<SoundsDownloader>(Private{}, std::move(documentsDirectory), std::move(bucket),
                                           std::move(sessionFactory), std::move(opener));
    if (!downloader->hasBucket()) {
        SomnaraLogger::log(
            "Not downloading lossless sounds: no bucket is configured (SOMNARA_BUCKET_URL or " +
                BucketConfiguration::defaultFile().string() + ")",
            LogType::defaultLevel);
    } else if (synchronisesAtStart) {
        downloader->startObservation();
    }
    return downloader;
}

SoundsDownloader::SoundsDownloader(Private, fs::path documentsDirectory,
                                   std::optional<BucketConfiguration> bucket,
                                   TransferSession::Factory sessionFactory, Opener opener)
    : documentsDirectory_(std::move(documentsDirectory)), soundsDirectory_(documentsDirectory_ / "sounds"),
      bucket_(std::move(bucket)),
      signer_(bucket_ ? std::make_unique<AWSSigner>(bucket_->credentials, "s3", bucket_->region) : nullptr),
      sessionFactory_(std::move(sessionFactory)), opener_(std::move(opener)),
      stateSubject_(AsyncCurrentValueSubject<State>::make(State::notSynced())) {}

SoundsDownloader::~SoundsDownloader() {
    observationTask_.cancel();
}

void SoundsDownloader::startObservation() {
    const auto due =
        Loop::current().continuousNow() + std::chrono::duration_cast<ContinuousInstant::duration>(startDelay);
    observationTask_ = spawn([weak = weak_from_this(), due]() -> asio::awaitable<void> {
        co_await sleepUntil(due);
        const auto self = weak.lock();
        if (!self) {
            co_return;
        }
        try {
            self->synchronise();
        } catch (const std::exception& error) {
            SomnaraLogger::log(std::string("Failed to sync: ") + error.what(), LogType::error);
        }
    });
}

Task<std::size_t> SoundsDownloader::sync() {
    return spawn(
        [self = shared_from_this()]() -> asio::awaitable<std::size_t> { co_return self->synchronise(); });
}

std::size_t SoundsDownloader::missingSoundsCount() const {
    std::size_t missing = 0;
    for (const auto soundTrack : SoundTrack::allCases()) {
        std::error_code ignored;
        if (!fs::exists(localPath(soundsDirectory_, soundTrack), ignored)) {
            ++missing;
        }
    }
    return missing;
}

std::size_t SoundsDownloader::synchronise() {
    if (!signer_) {
        throw std::system_error(make_error_code(SoundsDownloaderError::noBucketConfigured),
                                "no download bucket is configured");
    }
    if (missingSoundsCount() == 0) {
        SomnaraLogger::log("Not syncing. We're already synced", LogType::debug);
        stateSubject_->send(State::downloaded());
        return 0;
    }
    if (state() != State::notSynced()) {
        stateSubject_->send(State::notSynced());
    }
    if (fs::is_directory(soundsDirectory_)) {
        SomnaraLogger::log("Sounds directory already exists", LogType::defaultLevel);
    } else {
        fs::create_directories(soundsDirectory_);
    }

    std::vector<TransferRequest> requests;
    for (const auto soundTrack : SoundTrack::allCases()) {
        if (fs::exists(localPath(soundsDirectory_, soundTrack))) {
            continue;
        }
        const auto url = bucket_->baseURL + '/' + std::string(soundTrack.fileName()) + ".m4a";
        requests.push_back({signer_->signURL(url, "GET", Loop::current().now(), presignedURLExpiry),
                            std::chrono::duration<double>(60)});
    }
    if (!session_) {
        session_ = sessionFactory_({sessionIdentifier, false, true, documentsDirectory_}, weak_from_this());
    }
    std::vector<DownloadTask> tasks;
    std::string list;
    for (auto& request : requests) {
        list += (list.empty() ? "" : ", ") + request.description();
        tasks.push_back(session_->downloadTask(std::move(request)));
    }
    SomnaraLogger::log("Scheduling download " + std::to_string(tasks.size()) + " tasks [" + list + "]",
                       LogType::debug);
    if (tasks.empty()) {
        stateSubject_->send(State::downloaded());
        return 0;
    }
    for (const auto& task : tasks) {
        SomnaraLogger::log("Resume download task " + task.description(), LogType::debug);
        session_->resume(task);
    }
    transferProgress_.tasksScheduled += tasks.size();
    return tasks.size();
}

void SoundsDownloader::didFinishDownloading(const DownloadTask& task, const fs::path& location) {
    SomnaraLogger::log("Did finish downloading to file://" + fs::absolute(location).string(), LogType::debug);
    if (!task.response || task.response->statusCode < 200 || task.response->statusCode > 299) {
        SomnaraLogger::log("Download failed " + (task.response ? task.response->description() : "nil"),
                           LogType::error);
        return;
    }
    const auto fileName = task.originalRequest ? lastPathComponent(task.originalRequest->url) : std::string{};
    if (fileName.empty()) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure("No filename", sourceFile, handleFunction, 186);
        return;
    }
    SomnaraLogger::log("File name " + fileName, LogType::debug);
    const auto destination = soundsDirectory_ / fileName;
    bool store = true;
    try {
        if (opener_(location)->length() < 1) {
            ZelAnalyticsLogger::shared().loggedAssertionFailure("File downloaded has zero length", sourceFile,
                                                                handleFunction, 199);
            store = false;
        }
    } catch (const std::exception&) {
        // Not audio: it is not stored.
        store = false;
    }
    if (store) {
        std::error_code error;
        if (fs::exists(destination, error) && fs::remove(destination, error)) {
            SomnaraLogger::log("Removing existing file at " + destination.string(), LogType::debug);
        }
        // A failed move leaves the sound missing until the next synchronisation.
        fs::rename(location, destination, error);
    }
    const float progress =
        1.0F - static_cast<float>(missingSoundsCount()) / static_cast<float>(SoundTrack::allCases().size());
    SomnaraLogger::log("Total download progress " + shortest(progress), LogType::debug);
    Loop::current().post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->setState(1.0F - static_cast<float>(self->missingSoundsCount()) /
                                      static_cast<float>(SoundTrack::allCases().size()));
        }
    });
}

std::optional<SoundsDownloader::State> SoundsDownloader::State::fromProgress(float progress) noexcept {
    if (std::fabs(progress) < 0.001F) {
        return notSynced();
    }
    if (progress >= 0 && progress < 1) {
        return downloading(progress);
    }
    if (std::fabs(1 - progress) < 0.001F) {
        return downloaded();
    }
    return std::nullopt;
}

void SoundsDownloader::setState(float progress) {
    const auto next = State::fromProgress(progress);
    if (!next) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure("Invalid value " + shortest(progress), sourceFile,
                                                            handleFunction, 220);
        return;
    }
    if (*next != state()) {
        stateSubject_->send(*next);
    }
}

void SoundsDownloader::didBecomeInvalid(const std::optional<std::string>& error) {
    SomnaraLogger::log("Did become invalid " + error.value_or(""), LogType::error);
}

void SoundsDownloader::didFinishEvents() {
    SomnaraLogger::log("Did finish events", LogType::debug);
    Loop::current().post([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (self && self->backgroundCompletionHandler_) {
            self->backgroundCompletionHandler_();
        }
    });
}

void SoundsDownloader::didWriteData(const DownloadTask& task, std::int64_t totalBytesWritten, std::int64_t) {
    auto& bytes = bytesOfRunningTasks_[task.taskIdentifier];
    transferProgress_.bytesWritten += totalBytesWritten - bytes;
    bytes = totalBytesWritten;
}

void SoundsDownloader::didComplete(const DownloadTask& task, const std::optional<std::string>& error) {
    bytesOfRunningTasks_.erase(task.taskIdentifier);
    ++transferProgress_.tasksCompleted;
    if (error) {
        SomnaraLogger::log("Download failed " + task.description() + ": " + *error, LogType::error);
    }
}

Task<void> SoundsDownloader::clearCacheDirectory() {
    std::error_code error;
    fs::remove_all(soundsDirectory_, error);
    if (error) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(
            "Unable to clear cache directory " + error.message(), sourceFile, "clearCacheDirectory()", 80);
    }
    return finished();
}

} // namespace somnara
