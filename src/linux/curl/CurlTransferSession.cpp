#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/linux/curl/CurlTransferSession.hpp>
#include <somnara/runtime/Loop.hpp>

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace somnara {

namespace {

namespace fs = std::filesystem;

constexpr auto progressInterval = std::chrono::milliseconds(250);

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

/// The worker thread: it owns the multi handle and every easy handle, and hands its results to the
/// loop. Only `start` and the destructor are called from the loop.
struct CurlTransferSession::Worker {
    struct Start {
        std::uint64_t identifier = 0;
        std::string url;
        long timeoutSeconds = 60;
        std::FILE* file = nullptr;
    };

    /// Worker only.
    struct Transfer {
        Start start;
        CURL* easy = nullptr;
        std::int64_t written = 0;
        std::chrono::steady_clock::time_point lastReport;
    };

    Worker(Loop& loop, std::weak_ptr<CurlTransferSession> session)
        : loop_(loop), session_(std::move(session)), multi_(curl_multi_init()), thread_([this] { run(); }) {}

    ~Worker() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        curl_multi_wakeup(multi_);
        thread_.join();
        for (const auto& start : pending_) {
            std::fclose(start.file);
        }
        curl_multi_cleanup(multi_);
    }

    void start(Start start) {
        {
            const std::lock_guard lock(mutex_);
            pending_.push_back(std::move(start));
        }
        curl_multi_wakeup(multi_);
    }

private:
    static std::size_t write(char* data, std::size_t size, std::size_t count, void* context) {
        auto& transfer = *static_cast<Transfer*>(context);
        const auto bytes = size * count;
        if (std::fwrite(data, 1, bytes, transfer.start.file) != bytes) {
            return 0; // the disk is full: the transfer fails
        }
        transfer.written += static_cast<std::int64_t>(bytes);
        return bytes;
    }

    void add(Start start) {
        auto transfer = std::make_unique<Transfer>();
        transfer->start = std::move(start);
        CURL* easy = curl_easy_init();
        transfer->easy = easy;
        curl_easy_setopt(easy, CURLOPT_URL, transfer->start.url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Worker::write);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        // An idle timeout, as the request's interval is: a long download that keeps moving never fails.
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, transfer->start.timeoutSeconds);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, transfer->start.timeoutSeconds);
        curl_multi_add_handle(multi_, easy);
        transfers_.push_back(std::move(transfer));
    }

    /// At most every `progressInterval` per transfer, and once at its end.
    void reportProgress(Transfer& transfer, bool last = false) {
        const auto now = std::chrono::steady_clock::now();
        if (!last && now - transfer.lastReport < progressInterval) {
            return;
        }
        transfer.lastReport = now;
        curl_off_t expected = -1;
        curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        loop_.post([session = session_, identifier = transfer.start.identifier, written = transfer.written,
                    expected = static_cast<std::int64_t>(expected)] {
            if (const auto strong = session.lock()) {
                strong->progressed(identifier, written, expected);
            }
        });
    }

    void complete(CURL* easy, CURLcode result) {
        Transfer* transfer = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer);
        reportProgress(*transfer, true);
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        const bool flushed = std::fflush(transfer->start.file) == 0;
        std::fclose(transfer->start.file);
        std::optional<std::string> error;
        if (result != CURLE_OK) {
            error = curl_easy_strerror(result);
        } else if (!flushed) {
            error = std::strerror(errno);
        }
        curl_multi_remove_handle(multi_, easy);
        curl_easy_cleanup(easy);
        loop_.post([session = session_, identifier = transfer->start.identifier, status, error] {
            if (const auto strong = session.lock()) {
                strong->finished(identifier, status, error);
            }
        });
        std::erase_if(transfers_, [transfer](const auto& each) { return each.get() == transfer; });
    }

    void run() {
        for (;;) {
            std::vector<Start> starts;
            {
                const std::lock_guard lock(mutex_);
                if (stopping_) {
                    break;
                }
                starts.swap(pending_);
            }
            for (auto& start : starts) {
                add(std::move(start));
            }
            int running = 0;
            curl_multi_perform(multi_, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    complete(message->easy_handle, message->data.result);
                }
            }
            for (const auto& transfer : transfers_) {
                reportProgress(*transfer);
            }
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
        // Closing: what runs stops here and stays in the journal.
        for (const auto& transfer : transfers_) {
            curl_multi_remove_handle(multi_, transfer->easy);
            curl_easy_cleanup(transfer->easy);
            std::fclose(transfer->start.file);
        }
        transfers_.clear();
    }

    Loop& loop_;
    const std::weak_ptr<CurlTransferSession> session_;
    CURLM* const multi_;
    // Shared with the loop, under the mutex.
    std::mutex mutex_;
    std::vector<Start> pending_;
    bool stopping_ = false;
    // Worker only.
    std::vector<std::unique_ptr<Transfer>> transfers_;
    std::thread thread_;
};

std::shared_ptr<CurlTransferSession>
CurlTransferSession::open(TransferSessionConfiguration configuration,
                          std::weak_ptr<TransferSessionDelegate> delegate) {
    initialiseCurlOnce();
    std::shared_ptr<CurlTransferSession> session(
        new CurlTransferSession(std::move(configuration), std::move(delegate)));
    session->worker_ = std::make_unique<Worker>(session->loop_, session->weak_from_this());
    session->restoreJournal();
    return session;
}

CurlTransferSession::CurlTransferSession(TransferSessionConfiguration configuration,
                                         std::weak_ptr<TransferSessionDelegate> delegate)
    : configuration_(std::move(configuration)), delegate_(std::move(delegate)), loop_(Loop::current()) {}

CurlTransferSession::~CurlTransferSession() = default;

TransferSession::Factory CurlTransferSession::factory() {
    return [](TransferSessionConfiguration configuration, std::weak_ptr<TransferSessionDelegate> delegate) {
        return std::shared_ptr<TransferSession>(open(std::move(configuration), std::move(delegate)));
    };
}

namespace {

fs::path journalPath(const TransferSessionConfiguration& configuration) {
    return configuration.downloadDirectory / ("." + configuration.identifier + ".transfers.json");
}

} // namespace

void CurlTransferSession::restoreJournal() {
    std::error_code error;
    fs::create_directories(configuration_.downloadDirectory, error);
    if (error) {
        invalidate(error.message());
        return;
    }
    // Partial files of a session that ended with its process; their transfers start again below.
    const auto prefix = "." + configuration_.identifier + "-";
    for (const auto& entry : fs::directory_iterator(configuration_.downloadDirectory, error)) {
        const auto name = entry.path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(".download")) {
            fs::remove(entry.path(), error);
        }
    }
    std::vector<TransferRequest> unfinished;
    try {
        if (const auto contents = readWholeFile(journalPath(configuration_))) {
            for (const auto& entry : nlohmann::json::parse(*contents)) {
                unfinished.push_back({entry.at("url").get<std::string>(),
                                      std::chrono::duration<double>(entry.at("timeout").get<double>())});
            }
        }
    } catch (const std::exception&) {
        // A damaged journal loses its transfers; the objects that download look again for what is missing.
    }
    for (auto& request : unfinished) {
        resume(downloadTask(std::move(request)));
    }
}

void CurlTransferSession::writeJournal() {
    auto entries = nlohmann::json::array();
    for (const auto& [identifier, running] : running_) {
        entries.push_back({{"url", running.task.originalRequest->url},
                           {"timeout", running.task.originalRequest->timeoutInterval.count()}});
    }
    try {
        writeFileAtomically(journalPath(configuration_), entries.dump());
    } catch (const std::exception& error) {
        invalidate(error.what());
    }
}

void CurlTransferSession::invalidate(const std::string& error) {
    if (std::exchange(invalid_, true)) {
        return;
    }
    loop_.post([delegate = delegate_, error] {
        if (const auto strong = delegate.lock()) {
            strong->didBecomeInvalid(error);
        }
    });
}

DownloadTask CurlTransferSession::downloadTask(TransferRequest request) {
    DownloadTask task{nextIdentifier_++, std::move(request), std::nullopt};
    created_.emplace(task.taskIdentifier, task);
    return task;
}

void CurlTransferSession::resume(const DownloadTask& task) {
    const auto created = created_.find(task.taskIdentifier);
    if (invalid_ || created == created_.end()) {
        return;
    }
    auto pattern =
        (configuration_.downloadDirectory / ("." + configuration_.identifier + "-XXXXXX.download")).string();
    const int descriptor = ::mkstemps(pattern.data(), static_cast<int>(std::strlen(".download")));
    if (descriptor < 0) {
        invalidate(std::strerror(errno));
        return;
    }
    running_.emplace(task.taskIdentifier, Running{created->second, pattern});
    created_.erase(created);
    writeJournal();
    const auto& request = *running_.at(task.taskIdentifier).task.originalRequest;
    worker_->start({task.taskIdentifier, request.url,
                    std::max(1L, static_cast<long>(request.timeoutInterval.count())),
                    ::fdopen(descriptor, "wb")});
}

void CurlTransferSession::progressed(std::uint64_t identifier, std::int64_t written, std::int64_t expected) {
    const auto running = running_.find(identifier);
    const auto delegate = delegate_.lock();
    if (running != running_.end() && delegate) {
        delegate->didWriteData(running->second.task, written, expected);
    }
}

void CurlTransferSession::finished(std::uint64_t identifier, long statusCode,
                                   std::optional<std::string> error) {
    const auto found = running_.find(identifier);
    if (found == running_.end()) {
        return;
    }
    auto running = std::move(found->second);
    running_.erase(found);
    writeJournal();
    if (statusCode != 0) {
        running.task.response = HTTPResponse{running.task.originalRequest->url, statusCode};
    }
    const auto delegate = delegate_.lock();
    if (delegate && !error) {
        delegate->didFinishDownloading(running.task, running.temporary);
    }
    std::error_code ignored;
    fs::remove(running.temporary, ignored);
    if (delegate) {
        delegate->didComplete(running.task, error);
        if (running_.empty()) {
            delegate->didFinishEvents();
        }
    }
}

} // namespace somnara
