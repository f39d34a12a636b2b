#pragma once

#include <somnara/platform/CloudKeyValueStore.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace somnara {

class NotificationCenter;

/// The cloud key-value store on Linux: a sync folder that a sync tool or a network share mirrors
/// between the user's machines. Each key lives in a file of its own, replaced atomically (temporary
/// name, then rename), so a reader on another machine sees the old value or the new one, never half.
///
/// The folder is watched with inotify, integrated into the loop. A key file written by another
/// process or device is "external": its value is taken in and `didChangeExternallyNotification` is
/// posted with the changed keys. The store's own writes are not: it remembers the content it last
/// wrote or read per key and ignores events whose file still holds that content.
///
/// If the folder disappears (a share unmounted, the folder deleted), the store keeps its values and
/// watches the parent for the folder's return; a write meanwhile recreates the folder. When the
/// folder comes back, files that differ from what the store knows are external changes, and keys the
/// folder lacks are written back from memory, so that no device loses the user's data to an empty
/// folder. An inotify queue overflow, or `synchronize()`, rescans the folder.
///
/// Notifications go to the notification centre given at construction: the loop's, unless a test plays
/// two devices in one process and gives each its own.
///
/// Loop only; construct with `make` on the loop that will watch the folder, and destroy before it.
class FolderCloudKeyValueStore final : public CloudKeyValueStore,
                                       public std::enable_shared_from_this<FolderCloudKeyValueStore> {
    struct Private {};

public:
    /// Creates the folder when missing and loads the keys it holds. External changes are posted on
    /// `notificationCenter`, by default the current loop's; it must outlive the store.
    static std::shared_ptr<FolderCloudKeyValueStore> make(std::filesystem::path folder,
                                                          NotificationCenter* notificationCenter = nullptr);
    FolderCloudKeyValueStore(Private, std::filesystem::path folder, NotificationCenter& notificationCenter);
    ~FolderCloudKeyValueStore() override;

    FolderCloudKeyValueStore(const FolderCloudKeyValueStore&) = delete;
    FolderCloudKeyValueStore& operator=(const FolderCloudKeyValueStore&) = delete;

    /// Recreates and re-watches the folder if needed, then rescans it, announcing what changed
    /// elsewhere. False when the folder cannot be created or read.
    bool synchronize() override;
    std::map<std::string, CloudValue> dictionaryRepresentation() const override { return values_; }

    const std::filesystem::path& folder() const noexcept { return folder_; }
    /// What went wrong with each write that failed since construction: the platform's store never
    /// reports a failed write, so a program that must say so asks here.
    const std::vector<std::string>& failedWrites() const noexcept { return failedWrites_; }
    /// Whether the folder is being watched now (false while it is missing).
    bool isWatchingFolder() const noexcept { return folderWatch_ >= 0; }

    /// The file name that holds `key`: letters, digits, '_' and '-' as they are, every other byte as
    /// %XX, then ".json". Names starting with '.' are temporary and never keys.
    static std::string fileNameForKey(const std::string& key);
    static std::optional<std::string> keyForFileName(std::string_view fileName);

protected:
    std::optional<CloudValue> valueForKey(const std::string& key) const override;
    void storeValue(std::optional<CloudValue> value, const std::string& key) override;

private:
    struct Watcher;

    void startWatching();
    void watchFolder();
    void watchParent();
    void waitForEvents();
    void handleEvents();
    /// Reads the file of `key` and takes in its value when it differs from what the store knows;
    /// adds the key to `changed` when the value changed (or the file went away).
    void refreshKey(const std::string& key, std::vector<std::string>& changed);
    void rescan(std::vector<std::string>& changed, bool writeBackMissing);
    bool writeKeyFile(const std::string& key, const CloudValue& value);
    bool ensureFolder();
    void postExternalChange(std::vector<std::string> changedKeys);

    // Immutable after construction.
    std::filesystem::path folder_;
    NotificationCenter& notificationCenter_;

    // Loop only.
    std::map<std::string, CloudValue> values_;
    /// A hash of the file content the store last wrote or took in, per key: an event whose file still
    /// holds this content is the echo of something already known.
    std::map<std::string, std::size_t> knownContent_;
    std::unique_ptr<Watcher> watcher_;
    int folderWatch_ = -1;
    int parentWatch_ = -1;
    std::vector<std::string> failedWrites_;
};

} // namespace somnara
