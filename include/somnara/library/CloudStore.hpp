#pragma once

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/platform/CloudKeyValueStore.hpp>
#include <somnara/runtime/Task.hpp>

#include <asio/awaitable.hpp>

#include <any>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace somnara {

class NotificationCenter;

/// The one gateway to the cloud key-value store through which favourites and mixes follow the user
/// from device to device. It publishes the store's content as a dictionary of byte blobs, a complete
/// snapshot each time (entries of other types left out): once at start, and again after every change
/// made elsewhere. It also serialises the writes of its users. What the blobs mean is theirs to know.
///
/// Between external changes the snapshot stays as it is, even after `set`: the next external change
/// brings a snapshot that includes this process's own writes. A consumer that subscribes early gets
/// the empty dictionary first and should ignore an empty snapshot.
///
/// Loop only. `shared()` is the process-wide instance; `make` builds one over a given store (tests, and
/// two devices played in one process).
class CloudStore : public std::enable_shared_from_this<CloudStore> {
    struct Private {};

public:
    using Dictionary = std::map<std::string, CloudData>;

    static constexpr const char* sourceFile = "SomnaraKit/CloudStore";

    /// The instance over `CloudKeyValueStore::defaultStore()` and the loop's notification centre, created
    /// on first use on the current loop and never destroyed.
    static std::shared_ptr<CloudStore> shared();

    /// Synchronises `store` (a false result is reported as a logged assertion), then starts observing:
    /// the first snapshot and the external-change notifications on `notificationCenter` (by default
    /// the current loop's), which must outlive the cloud store.
    static std::shared_ptr<CloudStore> make(std::shared_ptr<CloudKeyValueStore> store,
                                            NotificationCenter* notificationCenter = nullptr);

    CloudStore(Private, std::shared_ptr<CloudKeyValueStore> store, NotificationCenter& notificationCenter);
    ~CloudStore();

    CloudStore(const CloudStore&) = delete;
    CloudStore& operator=(const CloudStore&) = delete;

    const std::shared_ptr<AsyncCurrentValueSubject<Dictionary>>& dictionarySubject() const noexcept {
        return dictionarySubject_;
    }

    /// Hands `data` to the store under `key`. Nothing else: no synchronisation, no new snapshot.
    [[nodiscard]] asio::awaitable<void> set(CloudData data, std::string key);

    /// Stops listening for external changes: for a program whose loop ends before the process does, as
    /// the listening task's subscription must end while the loop's notification centre exists.
    void stopObserving();

    /// Whether the first read of the store has been published (the start-up task has run).
    bool isObserving() const noexcept { return notificationsSubscription_.has_value(); }

    /// The snapshot of `content`: its byte blobs only.
    static Dictionary snapshot(const std::map<std::string, CloudValue>& content);

private:
    void startObserving();

    // Immutable after construction.
    const std::shared_ptr<CloudKeyValueStore> store_;
    NotificationCenter& notificationCenter_;

    // Loop only.
    std::shared_ptr<AsyncCurrentValueSubject<Dictionary>> dictionarySubject_;
    std::optional<Task<void>> notificationsSubscription_;
};

/// A line's worth of a notification's user info, as the cloud store's log shows it:
/// ["key": value, …] with texts quoted and lists of texts in brackets.
std::string describeUserInfo(const std::map<std::string, std::any>& userInfo);

} // namespace somnara
