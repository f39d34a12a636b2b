#include "SyncedSet.hpp"

#include <somnara/runtime/Loop.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <utility>

namespace somnara::library {

SyncedSet::SyncedSet(std::shared_ptr<CloudStore> cloudStore, const char* sourceFile, const char* key)
    : cloudStore_(std::move(cloudStore)), sourceFile_(sourceFile), key_(key) {}

asio::awaitable<void> SyncedSet::waitUntilLoaded() {
    auto loaded = loadedSubject_->subscribe();
    while (auto value = co_await loaded.next()) {
        if (*value) {
            co_return;
        }
    }
}

void SyncedSet::markLoaded() {
    if (!loadedSubject_->currentValue()) {
        loadedSubject_->send(true);
    }
}

void SyncedSet::noteSnapshotHandled(const CloudStore::Dictionary& snapshot) {
    if (cloudStore_->isObserving() && snapshot == cloudStore_->dictionarySubject()->currentValue()) {
        markLoaded();
    }
}

void SyncedSet::keepUnreadable(UserDefaults& userDefaults, const CloudData& data, const std::exception& error,
                               const std::string& origin, const char* function, int line) const {
    const auto copyKey = userDefaults.keepUnreadable(key_, data, Loop::current().now());
    if (!copyKey) {
        return;
    }
    const auto description = reflectedDescription(error);
    ZelAnalyticsLogger::shared().loggedAssertionFailure(description, sourceFile_, function, line);
    SomnaraLogger::log("Cannot read " + origin + " of \"" + key_ + "\" (" + description + "); kept it as \"" +
                           *copyKey + "\" in the user defaults",
                       LogType::error);
}

} // namespace somnara::library
