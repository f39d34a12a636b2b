#include <somnara/platform/CloudKeyValueStore.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/NotificationCenter.hpp>

#include <mutex>
#include <stdexcept>
#include <utility>

namespace somnara {

namespace {

std::mutex defaultStoreMutex;
std::shared_ptr<CloudKeyValueStore> defaultStoreInstance;

void requireValidKey(const std::string& key) {
    // A bad key is a programming error in the caller: the library's own keys are fixed and short.
    if (!CloudKeyValueStore::isValidKey(key)) {
        throw std::invalid_argument("cloud key-value store keys must be 1 to 64 bytes long: \"" + key + "\"");
    }
}

} // namespace

bool CloudKeyValueStore::isValidKey(const std::string& key) noexcept {
    return !key.empty() && key.size() <= maximumKeyLength;
}

std::optional<CloudData> CloudKeyValueStore::data(const std::string& key) const {
    requireValidKey(key);
    auto value = valueForKey(key);
    if (!value || !std::holds_alternative<CloudData>(*value)) {
        return std::nullopt;
    }
    return std::get<CloudData>(std::move(*value));
}

std::optional<CloudValue> CloudKeyValueStore::object(const std::string& key) const {
    requireValidKey(key);
    return valueForKey(key);
}

void CloudKeyValueStore::setData(CloudData data, const std::string& key) {
    requireValidKey(key);
    storeValue(CloudValue{std::move(data)}, key);
}

void CloudKeyValueStore::set(CloudValue value, const std::string& key) {
    requireValidKey(key);
    storeValue(std::move(value), key);
}

void CloudKeyValueStore::removeObject(const std::string& key) {
    requireValidKey(key);
    storeValue(std::nullopt, key);
}

std::shared_ptr<CloudKeyValueStore> CloudKeyValueStore::defaultStore() {
    const std::lock_guard lock{defaultStoreMutex};
    if (!defaultStoreInstance) {
        defaultStoreInstance = std::make_shared<MemoryCloudKeyValueStore>();
    }
    return defaultStoreInstance;
}

void CloudKeyValueStore::setDefaultStore(std::shared_ptr<CloudKeyValueStore> store) {
    const std::lock_guard lock{defaultStoreMutex};
    defaultStoreInstance = std::move(store);
}

void MemoryCloudKeyValueStore::applyExternalChange(
    const std::map<std::string, std::optional<CloudValue>>& changes, ChangeReason reason) {
    std::vector<std::string> changedKeys;
    for (const auto& [key, value] : changes) {
        storeValue(value, key);
        changedKeys.push_back(key);
    }
    Notification notification{didChangeExternallyNotification, {}};
    notification.userInfo[changeReasonKey] = static_cast<int>(reason);
    notification.userInfo[changedKeysKey] = std::move(changedKeys);
    Loop::current().notificationCenter().post(notification);
}

std::optional<CloudValue> MemoryCloudKeyValueStore::valueForKey(const std::string& key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void MemoryCloudKeyValueStore::storeValue(std::optional<CloudValue> value, const std::string& key) {
    if (value) {
        values_.insert_or_assign(key, std::move(*value));
    } else {
        values_.erase(key);
    }
}

} // namespace somnara
