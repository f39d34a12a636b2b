#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace somnara {

/// What to download: the URL, and how long the transfer may stay idle (no connection, no bytes)
/// before it fails.
struct TransferRequest {
    std::string url;
    std::chrono::duration<double> timeoutInterval{60};

    std::string description() const { return "<TransferRequest " + url + ">"; }
};

/// The answer of an HTTP server.
struct HTTPResponse {
    std::string url;
    long statusCode = 0;

    std::string description() const {
        return "{ URL: " + url + " } { Status Code: " + std::to_string(statusCode) + " }";
    }
};

/// One download of a session, as its delegate sees it.
struct DownloadTask {
    std::uint64_t taskIdentifier = 0;
    std::optional<TransferRequest> originalRequest;
    /// Once the server has answered.
    std::optional<HTTPResponse> response;

    std::string description() const {
        return "DownloadTask <" + std::to_string(taskIdentifier) + ">" +
               (originalRequest ? " " + originalRequest->url : std::string{});
    }
};

/// Receives a session's events, on the loop.
class TransferSessionDelegate {
public:
    virtual ~TransferSessionDelegate() = default;

    /// A download ended with an answer of the server, whatever its status, and its body is at
    /// `location`. The file is removed when this returns, unless it was moved away.
    virtual void didFinishDownloading(const DownloadTask& task, const std::filesystem::path& location) = 0;
    /// The session can run no transfers (its state cannot be kept); none when it was closed on purpose.
    virtual void didBecomeInvalid(const std::optional<std::string>& error) = 0;
    /// Every task of the session has completed and its events have been delivered.
    virtual void didFinishEvents() = 0;

    /// Bytes arrived for `task` (at most a few times a second per task).
    virtual void didWriteData(const DownloadTask& /*task*/, std::int64_t /*totalBytesWritten*/,
                              std::int64_t /*totalBytesExpected*/) {}
    /// A task ended: after `didFinishDownloading`, or with the reason it failed (no answer, a body cut
    /// short, a timeout).
    virtual void didComplete(const DownloadTask& /*task*/, const std::optional<std::string>& /*error*/) {}
};

/// How a session runs.
struct TransferSessionConfiguration {
    /// Names the session's transfers across processes: the unfinished transfers of a session that
    /// ended with its process start again when a session of the same identifier is opened.
    std::string identifier;
    bool isDiscretionary = false;
    bool sessionSendsLaunchEvents = true;
    /// Where downloads are written while they run, and where the session keeps its state.
    std::filesystem::path downloadDirectory;
};

/// A session of background downloads: transfers run off the loop and their events are delivered to the
/// delegate on the loop. TLS certificates are always verified.
///
/// Threads: loop only. Closing the session (destroying it) stops its transfers; they start again at the
/// next opening of a session with the same identifier.
class TransferSession {
public:
    using Factory = std::function<std::shared_ptr<TransferSession>(
        TransferSessionConfiguration configuration, std::weak_ptr<TransferSessionDelegate> delegate)>;

    virtual ~TransferSession() = default;

    /// A task for `request`, not started yet.
    virtual DownloadTask downloadTask(TransferRequest request) = 0;
    /// Starts a task made by `downloadTask`.
    virtual void resume(const DownloadTask& task) = 0;
};

} // namespace somnara
