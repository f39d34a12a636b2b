#pragma once

#include <somnara/platform/TransferSession.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>

namespace somnara {

class Loop;

/// A transfer session over libcurl's multi interface, run by a worker thread of its own; events are
/// posted to the loop that opened the session. Downloads are written to hidden temporary files in the
/// configuration's download directory (".<identifier>-XXXXXX.download"). The session keeps a journal of
/// its unfinished transfers there (".<identifier>.transfers.json"): when the process ends before they
/// do, the next session of the identifier removes their partial files and runs them again from the
/// start. Transfers fail after 60 s (or the request's interval) without a connection or a byte.
///
/// Threads: the loop, except the worker's own state (worker only) and the hand-over queue (a mutex).
class CurlTransferSession final : public TransferSession,
                                  public std::enable_shared_from_this<CurlTransferSession> {
public:
    /// Opens a session and starts again what the previous one of the identifier left unfinished.
    static std::shared_ptr<CurlTransferSession> open(TransferSessionConfiguration configuration,
                                                     std::weak_ptr<TransferSessionDelegate> delegate);
    /// Stops the transfers; they stay in the journal for the next session.
    ~CurlTransferSession() override;

    DownloadTask downloadTask(TransferRequest request) override;
    void resume(const DownloadTask& task) override;

    /// The factory the app hands to the objects that download.
    static TransferSession::Factory factory();

private:
    struct Worker;
    struct Running {
        DownloadTask task;
        std::filesystem::path temporary;
    };

    CurlTransferSession(TransferSessionConfiguration configuration,
                        std::weak_ptr<TransferSessionDelegate> delegate);
    void restoreJournal();
    void writeJournal();
    void invalidate(const std::string& error);
    void progressed(std::uint64_t identifier, std::int64_t written, std::int64_t expected);
    void finished(std::uint64_t identifier, long statusCode, std::optional<std::string> error);

    // Immutable after construction.
    const TransferSessionConfiguration configuration_;
    const std::weak_ptr<TransferSessionDelegate> delegate_;
    Loop& loop_;
    // Loop only.
    std::uint64_t nextIdentifier_ = 1;
    std::map<std::uint64_t, DownloadTask> created_;
    std::map<std::uint64_t, Running> running_;
    bool invalid_ = false;
    std::unique_ptr<Worker> worker_;
};

} // namespace somnara
