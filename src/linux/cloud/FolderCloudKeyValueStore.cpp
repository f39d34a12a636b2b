#include "CloudValueEnvelope.hpp"

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/linux/cloud/FolderCloudKeyValueStore.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/NotificationCenter.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <asio/posix/stream_descriptor.hpp>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>

namespace somnara {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view keyFileExtension = ".json";

// Final names only: a key file appears whole by rename (moved to) or is closed after a plain write
// by a program that does not write atomically; either way it is complete when these arrive.
constexpr std::uint32_t folderEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t parentEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;

bool isPlainKeyByte(unsigned char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

int hexValue(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/// The file's content; none when it is missing or cannot be read now (a share gone away, or not a
/// file that holds a value: a FIFO, a device, far too large, each said in the log).
std::optional<std::string> readKeyFileContent(const fs::path& path) {
    try {
        return readWholeFile(path);
    } catch (const fs::filesystem_error& error) {
        if (error.code() != std::errc::no_such_file_or_directory) {
            SomnaraLogger::log(std::string("Ignoring a key file of the sync folder: ") + error.what(),
                               LogType::error);
        }
        return std::nullopt;
    }
}

std::size_t contentHash(const std::string& content) {
    return std::hash<std::string>{}(content);
}

} // namespace

/// The inotify descriptor, read through the loop's reactor so that events are handled on the loop.
struct FolderCloudKeyValueStore::Watcher {
    explicit Watcher(int fd) : descriptor(Loop::current().context(), fd) {}
    int fd() { return descriptor.native_handle(); }
    asio::posix::stream_descriptor descriptor;
};

std::shared_ptr<FolderCloudKeyValueStore>
FolderCloudKeyValueStore::make(fs::path folder, NotificationCenter* notificationCenter) {
    auto& center = notificationCenter != nullptr ? *notificationCenter : Loop::current().notificationCenter();
    auto store = std::make_shared<FolderCloudKeyValueStore>(Private{}, std::move(folder), center);
    store->startWatching();
    return store;
}

FolderCloudKeyValueStore::FolderCloudKeyValueStore(Private, fs::path folder,
                                                   NotificationCenter& notificationCenter)
    : folder_(fs::absolute(std::move(folder)).lexically_normal()), notificationCenter_(notificationCenter) {
    if (!folder_.has_filename()) {
        // "/a/b/" names the folder "b" too; the parent watch needs its name.
        folder_ = folder_.parent_path();
    }
}

FolderCloudKeyValueStore::~FolderCloudKeyValueStore() = default;

std::string FolderCloudKeyValueStore::fileNameForKey(const std::string& key) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string name;
    for (const unsigned char c : key) {
        if (isPlainKeyByte(c)) {
            name += static_cast<char>(c);
        } else {
            name += '%';
            name += hex[c >> 4];
            name += hex[c & 0xf];
        }
    }
    return name + std::string{keyFileExtension};
}

std::optional<std::string> FolderCloudKeyValueStore::keyForFileName(std::string_view fileName) {
    if (fileName.size() <= keyFileExtension.size() || !fileName.ends_with(keyFileExtension)) {
        return std::nullopt;
    }
    fileName.remove_suffix(keyFileExtension.size());
    std::string key;
    for (std::size_t i = 0; i < fileName.size(); ++i) {
        const auto c = static_cast<unsigned char>(fileName[i]);
        if (isPlainKeyByte(c)) {
            key += static_cast<char>(c);
        } else if (c == '%' && i + 2 < fileName.size() && hexValue(fileName[i + 1]) >= 0 &&
                   hexValue(fileName[i + 2]) >= 0) {
            key += static_cast<char>(hexValue(fileName[i + 1]) * 16 + hexValue(fileName[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    // Only the one spelling the store itself writes names a key, so that two files never hold one key.
    if (!isValidKey(key) || fileNameForKey(key) != std::string{fileName} + std::string{keyFileExtension}) {
        return std::nullopt;
    }
    return key;
}

void FolderCloudKeyValueStore::startWatching() {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        // Without inotify the store still works, and synchronize() still takes in changes.
        SomnaraLogger::log("Cannot watch the sync folder " + folder_.string() + ": " + std::strerror(errno),
                           LogType::error);
    } else {
        watcher_ = std::make_unique<Watcher>(fd);
    }
    std::vector<std::string> changed;
    ensureFolder();
    watchFolder();
    rescan(changed, false);
    waitForEvents();
}

bool FolderCloudKeyValueStore::ensureFolder() {
    std::error_code error;
    fs::create_directories(folder_, error);
    return fs::is_directory(folder_, error);
}

void FolderCloudKeyValueStore::watchFolder() {
    if (!watcher_) {
        return;
    }
    folderWatch_ = ::inotify_add_watch(watcher_->fd(), folder_.c_str(), folderEvents);
    if (folderWatch_ < 0) {
        watchParent();
    } else if (parentWatch_ >= 0) {
        ::inotify_rm_watch(watcher_->fd(), parentWatch_);
        parentWatch_ = -1;
    }
}

void FolderCloudKeyValueStore::watchParent() {
    if (!watcher_ || parentWatch_ >= 0) {
        return;
    }
    parentWatch_ = ::inotify_add_watch(watcher_->fd(), folder_.parent_path().c_str(), parentEvents);
    // The folder may have come back between losing it and watching the parent.
    std::error_code error;
    if (fs::is_directory(folder_, error)) {
        std::vector<std::string> changed;
        watchFolder();
        rescan(changed, true);
        postExternalChange(std::move(changed));
    }
}

void FolderCloudKeyValueStore::waitForEvents() {
    if (!watcher_) {
        return;
    }
    auto weak = weak_from_this();
    watcher_->descriptor.async_wait(asio::posix::stream_descriptor::wait_read,
                                    [weak](const std::error_code& error) {
                                        if (error) {
                                            return;
                                        }
                                        if (auto self = weak.lock()) {
                                            self->handleEvents();
                                            self->waitForEvents();
                                        }
                                    });
}

void FolderCloudKeyValueStore::handleEvents() {
    alignas(inotify_event) std::array<char, 16 * 1024> buffer{};
    std::set<std::string> touchedKeys;
    bool overflowed = false;
    bool folderLost = false;
    bool folderBack = false;
    for (;;) {
        const auto length = ::read(watcher_->fd(), buffer.data(), buffer.size());
        if (length <= 0) {
            break;
        }
        for (std::size_t offset = 0; offset < static_cast<std::size_t>(length);) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
            offset += sizeof(inotify_event) + event->len;
            const std::string_view name = event->len > 0 ? std::string_view{event->name} : std::string_view{};
            if (event->mask & IN_Q_OVERFLOW) {
                overflowed = true;
            } else if (event->wd == folderWatch_ && folderWatch_ >= 0) {
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    folderLost = true;
                } else if (auto key = keyForFileName(name)) {
                    touchedKeys.insert(std::move(*key));
                }
            } else if (event->wd == parentWatch_ && parentWatch_ >= 0 &&
                       name == folder_.filename().native()) {
                folderBack = true;
            }
        }
    }

    std::vector<std::string> changed;
    if (folderLost) {
        // A moved folder keeps its watch; the store follows the path, not the folder.
        ::inotify_rm_watch(watcher_->fd(), folderWatch_);
        folderWatch_ = -1;
        watchParent();
        std::error_code error;
        folderBack = folderBack || (folderWatch_ < 0 && fs::is_directory(folder_, error));
    }
    if (folderBack && folderWatch_ < 0) {
        watchFolder();
        if (folderWatch_ >= 0) {
            rescan(changed, true);
        }
    } else if (overflowed && folderWatch_ >= 0) {
        rescan(changed, false);
    } else if (folderWatch_ >= 0) {
        for (const auto& key : touchedKeys) {
            refreshKey(key, changed);
        }
    }
    postExternalChange(std::move(changed));
}

void FolderCloudKeyValueStore::refreshKey(const std::string& key, std::vector<std::string>& changed) {
    const auto content = readKeyFileContent(folder_ / fileNameForKey(key));
    if (!content) {
        // Removed elsewhere.
        knownContent_.erase(key);
        if (values_.erase(key) > 0) {
            changed.push_back(key);
        }
        return;
    }
    const auto hash = contentHash(*content);
    const auto known = knownContent_.find(key);
    if (known != knownContent_.end() && known->second == hash) {
        return;
    }
    auto envelope = linux_cloud::CloudValueEnvelope::decode(*content);
    if (!envelope || envelope->key != key) {
        // Not (yet) a whole key file; the writer's close or rename brings another event.
        return;
    }
    knownContent_[key] = hash;
    values_.insert_or_assign(key, std::move(envelope->value));
    changed.push_back(key);
}

void FolderCloudKeyValueStore::rescan(std::vector<std::string>& changed, bool writeBackMissing) {
    std::set<std::string> present;
    std::error_code error;
    for (fs::directory_iterator entry{folder_, error}, end; !error && entry != end; entry.increment(error)) {
        if (auto key = keyForFileName(entry->path().filename().native())) {
            present.insert(*key);
        }
    }
    if (error) {
        return;
    }
    for (const auto& key : present) {
        refreshKey(key, changed);
    }
    std::vector<std::string> missing;
    for (const auto& [key, value] : values_) {
        if (!present.contains(key)) {
            missing.push_back(key);
        }
    }
    for (const auto& key : missing) {
        if (writeBackMissing) {
            writeKeyFile(key, values_.at(key));
        } else {
            refreshKey(key, changed);
        }
    }
}

void FolderCloudKeyValueStore::postExternalChange(std::vector<std::string> changedKeys) {
    if (changedKeys.empty()) {
        return;
    }
    std::sort(changedKeys.begin(), changedKeys.end());
    changedKeys.erase(std::unique(changedKeys.begin(), changedKeys.end()), changedKeys.end());
    Notification notification{didChangeExternallyNotification, {}};
    notification.userInfo[changeReasonKey] = static_cast<int>(ChangeReason::serverChange);
    notification.userInfo[changedKeysKey] = std::move(changedKeys);
    notificationCenter_.post(notification);
}

bool FolderCloudKeyValueStore::synchronize() {
    std::error_code error;
    const bool folderWasMissing = !fs::is_directory(folder_, error);
    if (!ensureFolder()) {
        return false;
    }
    if (folderWasMissing && watcher_ && folderWatch_ >= 0) {
        // The watch still names the folder that went; its events are yet to be read.
        ::inotify_rm_watch(watcher_->fd(), folderWatch_);
        folderWatch_ = -1;
    }
    if (folderWatch_ < 0) {
        watchFolder();
    }
    std::vector<std::string> changed;
    rescan(changed, folderWasMissing);
    postExternalChange(std::move(changed));
    return fs::is_directory(folder_, error);
}

std::optional<CloudValue> FolderCloudKeyValueStore::valueForKey(const std::string& key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void FolderCloudKeyValueStore::storeValue(std::optional<CloudValue> value, const std::string& key) {
    std::error_code error;
    const bool folderWasMissing = !fs::is_directory(folder_, error);
    if (value) {
        values_.insert_or_assign(key, std::move(*value));
    } else {
        values_.erase(key);
    }
    if (folderWasMissing) {
        // The store holds the latest state this device knows: a recreated folder gets all of it, not
        // just this key, so that the other devices do not read the missing keys as deleted.
        if (!ensureFolder()) {
            const auto failure = "cannot create the sync folder " + folder_.string();
            SomnaraLogger::log(failure, LogType::error);
            failedWrites_.push_back(failure);
            return;
        }
        for (const auto& [otherKey, otherValue] : values_) {
            writeKeyFile(otherKey, otherValue);
        }
        return;
    }
    if (values_.contains(key)) {
        writeKeyFile(key, values_.at(key));
    } else {
        knownContent_.erase(key);
        if (!fs::remove(folder_ / fileNameForKey(key), error) && error) {
            failedWrites_.push_back("cannot remove " + (folder_ / fileNameForKey(key)).string() + ": " +
                                    error.message());
        }
    }
}

bool FolderCloudKeyValueStore::writeKeyFile(const std::string& key, const CloudValue& value) {
    const auto content = linux_cloud::CloudValueEnvelope{key, value}.encode();
    // Remembered before the file appears, so that the echo of this write is recognised as our own.
    // The temporary file's name starts with '.', which no key file's does, so watchers skip it.
    knownContent_[key] = contentHash(content);
    try {
        writeFileAtomically(folder_ / fileNameForKey(key), content);
        return true;
    } catch (const fs::filesystem_error& error) {
        SomnaraLogger::log("Cannot write " + fileNameForKey(key) + " to the sync folder: " + error.what(),
                           LogType::error);
        failedWrites_.push_back(error.what());
        return false;
    }
}

} // namespace somnara
