#pragma once

#include "ReflectedDescription.hpp"

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/library/CloudStore.hpp>
#include <somnara/platform/UserDefaults.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <asio/awaitable.hpp>

#include <exception>
#include <memory>
#include <string>

namespace somnara::library {

/// What the favourites and the mixes stores do alike, each keeping one whole set under one key in the
/// user defaults and in the cloud store: tracking when start-up has loaded it, changing it (change,
/// publish, save, report), and setting aside a copy that cannot be decoded.
///
/// Loop only.
class SyncedSet {
public:
    SyncedSet(std::shared_ptr<CloudStore> cloudStore, const char* sourceFile, const char* key);

    /// Returns once `markLoaded` has been called, or a snapshot noted that is the cloud store's content.
    [[nodiscard]] asio::awaitable<void> waitUntilLoaded();
    void markLoaded();
    /// The first snapshot may be the cloud store's initial empty one; loaded means the store's content.
    void noteSnapshotHandled(const CloudStore::Dictionary& snapshot);

    /// Keeps `data`, which `error` says cannot be decoded, beside the key in `userDefaults` as
    /// "<key>.corrupt-<UTC time>", and says so in the log and as a logged assertion from `function` at
    /// `line`; nothing when an earlier run kept the same bytes. `origin` says whose copy it was ("the
    /// local copy", "the sync folder's copy").
    void keepUnreadable(UserDefaults& userDefaults, const CloudData& data, const std::exception& error,
                        const std::string& origin, const char* function, int line) const;

    /// Publishes `change` applied to the subject's value, then awaits `save` of it; a failed save is
    /// reported as a logged assertion from `function` at `line`.
    template <typename Set, typename Change, typename Save>
    [[nodiscard]] asio::awaitable<void> change(AsyncCurrentValueSubject<Set>& subject, Change change,
                                               Save save, const char* function, int line) {
        auto value = subject.currentValue();
        change(value);
        subject.send(value);
        try {
            auto saving = save(std::move(value));
            co_await std::move(saving);
        } catch (const std::exception& error) {
            ZelAnalyticsLogger::shared().loggedAssertionFailure(reflectedDescription(error), sourceFile_,
                                                                function, line);
        }
    }

private:
    // Immutable after construction.
    const std::shared_ptr<CloudStore> cloudStore_;
    const char* const sourceFile_;
    const char* const key_;

    // Loop only.
    std::shared_ptr<AsyncCurrentValueSubject<bool>> loadedSubject_ =
        AsyncCurrentValueSubject<bool>::make(false);
};

} // namespace somnara::library
