#include <somnara/library/CloudStore.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/NotificationCenter.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <any>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

namespace somnara {

namespace {

std::string describeValue(const std::any& value) {
    std::ostringstream text;
    if (const auto* number = std::any_cast<int>(&value)) {
        text << *number;
    } else if (const auto* wide = std::any_cast<std::int64_t>(&value)) {
        text << *wide;
    } else if (const auto* real = std::any_cast<double>(&value)) {
        text << *real;
    } else if (const auto* flag = std::any_cast<bool>(&value)) {
        text << (*flag ? "true" : "false");
    } else if (const auto* string = std::any_cast<std::string>(&value)) {
        text << '"' << *string << '"';
    } else if (const auto* strings = std::any_cast<std::vector<std::string>>(&value)) {
        text << '[';
        for (std::size_t i = 0; i < strings->size(); ++i) {
            text << (i > 0 ? ", " : "") << '"' << (*strings)[i] << '"';
        }
        text << ']';
    } else {
        text << '<' << value.type().name() << '>';
    }
    return std::move(text).str();
}

} // namespace

std::string describeUserInfo(const std::map<std::string, std::any>& userInfo) {
    std::string text = "[";
    for (const auto& [key, value] : userInfo) {
        text += (text.size() > 1 ? ", \"" : "\"") + key + "\": " + describeValue(value);
    }
    return text + "]";
}

std::shared_ptr<CloudStore> CloudStore::shared() {
    // Never destroyed: the process-wide instance outlives every user, whatever the order of exit.
    static std::once_flag once;
    static std::shared_ptr<CloudStore>* instance = nullptr;
    std::call_once(
        once, [] { instance = new std::shared_ptr<CloudStore>(make(CloudKeyValueStore::defaultStore())); });
    return *instance;
}

std::shared_ptr<CloudStore> CloudStore::make(std::shared_ptr<CloudKeyValueStore> store,
                                             NotificationCenter* notificationCenter) {
    auto& center = notificationCenter != nullptr ? *notificationCenter : Loop::current().notificationCenter();
    auto cloudStore = std::make_shared<CloudStore>(Private{}, std::move(store), center);
    spawn([weak = std::weak_ptr<CloudStore>(cloudStore)]() -> asio::awaitable<void> {
        if (auto self = weak.lock()) {
            self->startObserving();
        }
        co_return;
    });
    return cloudStore;
}

CloudStore::CloudStore(Private, std::shared_ptr<CloudKeyValueStore> store,
                       NotificationCenter& notificationCenter)
    : store_(std::move(store)), notificationCenter_(notificationCenter),
      dictionarySubject_(AsyncCurrentValueSubject<Dictionary>::make(Dictionary{})) {
    const bool synchronized = store_->synchronize();
    ZelAnalyticsLogger::shared().loggedAssert(synchronized, std::nullopt, sourceFile, "init()", 22);
}

CloudStore::~CloudStore() {
    if (notificationsSubscription_) {
        notificationsSubscription_->cancel();
    }
}

CloudStore::Dictionary CloudStore::snapshot(const std::map<std::string, CloudValue>& content) {
    Dictionary blobs;
    for (const auto& [key, value] : content) {
        if (const auto* data = std::get_if<CloudData>(&value)) {
            blobs.emplace(key, *data);
        }
    }
    return blobs;
}

void CloudStore::startObserving() {
    dictionarySubject_->send(snapshot(store_->dictionaryRepresentation()));
    // Subscribed before the task starts, so that no change between the first read and the task's first
    // wait is missed.
    auto notifications =
        notificationCenter_.notifications(CloudKeyValueStore::didChangeExternallyNotification);
    notificationsSubscription_ =
        spawn([weak = weak_from_this(),
               notifications = std::move(notifications)]() mutable -> asio::awaitable<void> {
            while (auto notification = co_await notifications.next()) {
                auto self = weak.lock();
                if (!self) {
                    co_return;
                }
                if (notification->name != CloudKeyValueStore::didChangeExternallyNotification) {
                    continue;
                }
                // Every reason (a change elsewhere, the first sync, a quota or account change) means the same
                // here: read the whole store again.
                if (!notification->userInfo.empty()) {
                    SomnaraLogger::log("Cloud Keys Changed " + describeUserInfo(notification->userInfo),
                                       LogType::debug);
                }
                self->dictionarySubject_->send(snapshot(self->store_->dictionaryRepresentation()));
            }
        });
}

void CloudStore::stopObserving() {
    if (notificationsSubscription_) {
        notificationsSubscription_->cancel();
    }
}

asio::awaitable<void> CloudStore::set(CloudData data, std::string key) {
    store_->setData(std::move(data), key);
    co_return;
}

} // namespace somnara
