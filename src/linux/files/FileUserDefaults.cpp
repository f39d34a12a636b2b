#include "linux/files/UserDefaultsCoding.hpp"

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace somnara {

namespace fs = std::filesystem;

/// What identifies one version of the file: a replacement is a new inode, an edit in place changes
/// the size or the modification time.
struct FileUserDefaults::Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    static std::optional<Stamp> of(const fs::path& path) {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            return std::nullopt;
        }
        return Stamp{status.st_dev, status.st_ino, status.st_size, status.st_mtim};
    }

    bool operator==(const Stamp& other) const noexcept {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

namespace {

/// Holds an exclusive flock for as long as it lives.
class ExclusiveLock {
public:
    explicit ExclusiveLock(int fd) : fd_(fd) {
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                throw fs::filesystem_error("cannot lock user defaults",
                                           std::error_code(errno, std::generic_category()));
            }
        }
    }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ~ExclusiveLock() { ::flock(fd_, LOCK_UN); }

private:
    int fd_;
};

std::optional<fs::path> lockFileOf(const std::optional<fs::path>& file) {
    if (!file) {
        return std::nullopt;
    }
    fs::path lock = *file;
    lock += ".lock";
    return lock;
}

void logFailure(const std::string& what, const std::exception& error) {
    SomnaraLogger::log(what + ": " + error.what(), LogType::error);
}

} // namespace

FileUserDefaults::FileUserDefaults(std::optional<fs::path> file)
    : file_(std::move(file)), lockFile_(lockFileOf(file_)) {}

FileUserDefaults::~FileUserDefaults() {
    if (lockDescriptor_ >= 0) {
        ::close(lockDescriptor_);
    }
}

std::string FileUserDefaults::fileName(const std::optional<std::string>& suiteName) {
    if (!suiteName) {
        return "standard.json";
    }
    if (suiteName->empty() || *suiteName == "." || *suiteName == ".." ||
        suiteName->find('/') != std::string::npos || suiteName->find('\0') != std::string::npos) {
        throw std::invalid_argument("not a user defaults suite name: \"" + *suiteName + "\"");
    }
    return *suiteName + ".json";
}

std::optional<std::uint64_t> FileUserDefaults::readGenerationLocked() const {
    if (!lockFile_) {
        return std::nullopt;
    }
    if (lockDescriptor_ < 0) {
        lockDescriptor_ = ::open(lockFile_->c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lockDescriptor_ < 0) {
            return std::nullopt;
        }
    }
    std::uint64_t generation = 0;
    const ssize_t count = ::pread(lockDescriptor_, &generation, sizeof generation, 0);
    return count == static_cast<ssize_t>(sizeof generation) ? generation : 0;
}

void FileUserDefaults::refreshLocked() const {
    if (!file_) {
        return;
    }
    // Another writer bumps the counter in the lock file after each replacement; the file's own stamp
    // catches edits by hand. Either change means the cached values are stale.
    const auto generation = readGenerationLocked();
    auto stamp = Stamp::of(*file_);
    const bool sameStamp = (stamp && stamp_ && *stamp == *stamp_) || (!stamp && !stamp_);
    if (generation_ && generation == generation_ && sameStamp) {
        return;
    }
    generation_ = generation;
    stamp_ = stamp ? std::make_unique<Stamp>(*stamp) : nullptr;
    values_.clear();
    damage_.reset();
    std::optional<std::string> text;
    try {
        text = readWholeFile(*file_);
    } catch (const std::exception& error) {
        // Not a file of ours (a FIFO, a device, far too large): its keys read as unset, and the next
        // write puts a file in its place.
        logFailure("Unreadable user defaults " + file_->string() + ", reading them as empty", error);
        return;
    }
    if (!text || text->empty()) {
        return;
    }
    std::vector<std::string> undecodable;
    try {
        values_ = userdefaults::decodeFile(*text, &undecodable);
    } catch (const std::exception& error) {
        damage_ = Damage{*text, error.what()};
        return;
    }
    if (!undecodable.empty()) {
        std::string keys;
        for (const auto& key : undecodable) {
            keys += (keys.empty() ? "\"" : ", \"") + key + "\"";
        }
        damage_ = Damage{*text, "cannot read the value of " + keys};
    }
}

void FileUserDefaults::keepDamagedCopyLocked() const {
    if (!damage_) {
        return;
    }
    // Whoever replaces the file first keeps the damaged version beside it; the rest read the repair.
    const auto damage = std::move(*damage_);
    damage_.reset();
    try {
        if (const auto copy = keepCorruptCopy(*file_, damage.text)) {
            SomnaraLogger::log("User defaults " + file_->string() + " were damaged (" + damage.reason +
                                   "); kept them as " + copy->string() +
                                   " and went on with what could be read",
                               LogType::error);
        }
    } catch (const std::exception& error) {
        logFailure("Damaged user defaults " + file_->string() + " (" + damage.reason +
                       ") could not be kept aside",
                   error);
        throw;
    }
}

void FileUserDefaults::repairLocked() const {
    if (!damage_ || !lockFile_) {
        return;
    }
    try {
        if (readGenerationLocked(); lockDescriptor_ < 0) {
            return; // A read-only home: nothing will replace the file either.
        }
        const ExclusiveLock lock(lockDescriptor_);
        generation_.reset();
        refreshLocked();
        if (!damage_) {
            return; // Another process repaired it meanwhile.
        }
        keepDamagedCopyLocked();
        replaceFileLocked();
    } catch (const std::exception&) {
        // Reported where it failed; the values that could be read serve meanwhile.
    }
}

void FileUserDefaults::replaceFileLocked() const {
    writeFileAtomically(*file_, userdefaults::encodeFile(values_));
    const std::uint64_t next = readGenerationLocked().value_or(0) + 1;
    if (::pwrite(lockDescriptor_, &next, sizeof next, 0) != static_cast<ssize_t>(sizeof next)) {
        // Readers still notice the new file by its inode.
        SomnaraLogger::log("Cannot bump the change counter of " + lockFile_->string(), LogType::error);
    }
    generation_ = next;
    const auto stamp = Stamp::of(*file_);
    stamp_ = stamp ? std::make_unique<Stamp>(*stamp) : nullptr;
}

std::vector<std::string> FileUserDefaults::failedWrites() const {
    const std::lock_guard lock(mutex_);
    return failedWrites_;
}

void FileUserDefaults::changeLocked(const std::string& key, std::optional<Value> value) {
    const auto apply = [&] {
        if (value) {
            values_.insert_or_assign(key, std::move(*value));
        } else {
            values_.erase(key);
        }
    };
    if (!file_) {
        apply();
        return;
    }
    const auto unchanged = [&] {
        const auto old = values_.find(key);
        return value ? (old != values_.end() && old->second == *value) : old == values_.end();
    };
    try {
        if (readGenerationLocked(); lockDescriptor_ < 0) {
            const int error = errno;
            // A read-only home still takes a value it already holds.
            refreshLocked();
            if (!damage_ && unchanged()) {
                return;
            }
            throw fs::filesystem_error("cannot open user defaults lock", *lockFile_,
                                       std::error_code(error, std::generic_category()));
        }
        const ExclusiveLock lock(lockDescriptor_);
        // Merge into what is on disk now, not into what this process saw last: another process may have
        // written other keys since.
        generation_.reset();
        refreshLocked();
        if (unchanged()) {
            return;
        }
        keepDamagedCopyLocked();
        apply();
        replaceFileLocked();
    } catch (const std::exception& error) {
        // Keep the change in memory so that this process sees what it wrote, until the file changes or
        // a later write rereads it.
        logFailure("Cannot save user defaults " + file_->string(), error);
        failedWrites_.push_back("cannot save " + file_->string() + ": " + error.what());
        apply();
    }
}

std::optional<UserDefaultsValue> FileUserDefaults::object(const std::string& key) const {
    const std::lock_guard lock(mutex_);
    refreshLocked();
    repairLocked();
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void FileUserDefaults::set(Value value, const std::string& key) {
    const std::lock_guard lock(mutex_);
    changeLocked(key, std::move(value));
}

void FileUserDefaults::removeObject(const std::string& key) {
    const std::lock_guard lock(mutex_);
    changeLocked(key, std::nullopt);
}

UserDefaultsValue::Dictionary FileUserDefaults::dictionaryRepresentation() const {
    const std::lock_guard lock(mutex_);
    refreshLocked();
    repairLocked();
    return values_;
}

} // namespace somnara
