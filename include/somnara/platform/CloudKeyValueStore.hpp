#pragma once

#include <somnara/runtime/Date.hpp>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace somnara {

/// Bytes as the cloud key-value store holds them.
using CloudData = std::vector<std::uint8_t>;

/// One value of the cloud key-value store. The library writes only bytes; the other types can be
/// there because another program or an older version put them there, and they are carried as they
/// are. Arrays and dictionaries are kept as their JSON form.
using CloudValue = std::variant<CloudData, std::string, std::int64_t, double, bool, Date, nlohmann::json>;

/// A small key-value store that the user's devices share: what one device writes, the others see,
/// and each is told when a change arrives from elsewhere.
///
/// The front (this class) checks keys and states the contract; a back end implements the storage and
/// may assume valid keys. Changes made elsewhere are announced by posting
/// `didChangeExternallyNotification` on the loop's notification centre, with the changed keys
/// (`std::vector<std::string>`) under `changedKeysKey` and the reason (`int`, a `ChangeReason`) under
/// `changeReasonKey`. The store's own writes are never announced, and `dictionaryRepresentation()`
/// shows them at once.
///
/// Loop only.
class CloudKeyValueStore {
public:
    static inline const std::string didChangeExternallyNotification =
        "NSUbiquitousKeyValueStoreDidChangeExternallyNotification";
    static inline const std::string changeReasonKey = "NSUbiquitousKeyValueStoreChangeReasonKey";
    static inline const std::string changedKeysKey = "NSUbiquitousKeyValueStoreChangedKeysKey";

    /// Why values changed, as carried under `changeReasonKey`.
    enum class ChangeReason : int {
        serverChange = 0,
        initialSyncChange = 1,
        quotaViolationChange = 2,
        accountChange = 3
    };

    /// Keys are at most this many bytes of UTF-8, like the platform store the library was made for.
    static constexpr std::size_t maximumKeyLength = 64;

    virtual ~CloudKeyValueStore() = default;

    /// Brings the local view up to date with the shared one; false when the shared storage cannot be
    /// reached (the store still works locally).
    virtual bool synchronize() = 0;

    /// Every key and value the store holds now, own writes included.
    virtual std::map<std::string, CloudValue> dictionaryRepresentation() const = 0;

    /// The value under `key` when it is bytes; none when absent or of another type.
    std::optional<CloudData> data(const std::string& key) const;
    /// The value under `key`, whatever its type.
    std::optional<CloudValue> object(const std::string& key) const;

    void setData(CloudData data, const std::string& key);
    void set(CloudValue value, const std::string& key);
    void removeObject(const std::string& key);

    /// Whether `key` may be used: not empty and at most `maximumKeyLength` bytes.
    static bool isValidKey(const std::string& key) noexcept;

    /// The store the library uses unless told otherwise. The app installs the sync-folder store at start;
    /// without that, a store kept in memory stands in, so the library still works on one device.
    static std::shared_ptr<CloudKeyValueStore> defaultStore();
    static void setDefaultStore(std::shared_ptr<CloudKeyValueStore> store);

protected:
    virtual std::optional<CloudValue> valueForKey(const std::string& key) const = 0;
    /// Stores `value` under `key`, or removes the key when `value` is none.
    virtual void storeValue(std::optional<CloudValue> value, const std::string& key) = 0;
};

/// A store kept in memory: the stand-in when no shared storage is configured, and a store whose
/// "other devices" a test plays through `applyExternalChange`.
class MemoryCloudKeyValueStore final : public CloudKeyValueStore {
public:
    bool synchronize() override { return synchronizes_; }
    std::map<std::string, CloudValue> dictionaryRepresentation() const override { return values_; }

    /// What `synchronize()` answers.
    void setSynchronizeResult(bool synchronizes) { synchronizes_ = synchronizes; }
    /// Changes values as another device would (none removes the key) and posts the external-change
    /// notification on the current loop.
    void applyExternalChange(const std::map<std::string, std::optional<CloudValue>>& changes,
                             ChangeReason reason = ChangeReason::serverChange);

protected:
    std::optional<CloudValue> valueForKey(const std::string& key) const override;
    void storeValue(std::optional<CloudValue> value, const std::string& key) override;

private:
    std::map<std::string, CloudValue> values_;
    bool synchronizes_ = true;
};

} // namespace somnara
