#pragma once

#include <somnara/platform/UserDefaults.hpp>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace somnara {

/// User defaults kept in one JSON file per suite, shared safely by every process that opens it.
///
/// Values keep their types in the file: integers, doubles, strings, booleans, arrays and dictionaries
/// as plain JSON, bytes as {"$data": "<base64>"}, dates as {"$date": <seconds since the reference
/// date>}, non-finite doubles as {"$double": "nan" | "inf" | "-inf"}; a dictionary that could be taken
/// for one of these tags (one key starting with '$') is wrapped as {"$dictionary": {...}}.
///
/// A change takes an exclusive lock (flock) on "<file>.lock", rereads the file, changes the one key,
/// replaces the file atomically and bumps a change counter kept in the lock file before unlocking, so
/// that two processes writing different keys never lose each other's. Reads reuse the cached values
/// until the counter or the file changes. A missing or unreadable file (not a regular file, far too
/// large) reads as empty defaults. A file that is not JSON, or holds a value the reader cannot decode,
/// reads as what could be decoded; before it is replaced (at once, when the directory is writable) the
/// damaged version is kept beside it as "<name>.corrupt-<UTC time>" and that is said once in the log.
///
/// Threads: any; one mutex serialises the instance. Synchronous small file I/O.
class FileUserDefaults final : public UserDefaults {
public:
    /// Defaults stored in `file`; none keeps them in this process's memory only.
    explicit FileUserDefaults(std::optional<std::filesystem::path> file);
    ~FileUserDefaults() override;

    FileUserDefaults(const FileUserDefaults&) = delete;
    FileUserDefaults& operator=(const FileUserDefaults&) = delete;

    /// The file name of a suite in the user defaults directory ("standard.json" for the standard
    /// defaults); throws `std::invalid_argument` for an empty name, ".", ".." or one holding '/'.
    static std::string fileName(const std::optional<std::string>& suiteName);

    std::optional<Value> object(const std::string& key) const override;
    void set(Value value, const std::string& key) override;
    void removeObject(const std::string& key) override;
    Value::Dictionary dictionaryRepresentation() const override;

    const std::optional<std::filesystem::path>& file() const noexcept { return file_; }

    /// What went wrong with each write that failed since construction: the platform's defaults never
    /// report a failed write, so a program that must say so asks here.
    std::vector<std::string> failedWrites() const;

private:
    struct Stamp;

    /// A version of the file that could not be read whole.
    struct Damage {
        std::string text;
        std::string reason;
    };

    void refreshLocked() const;
    /// Keeps the damaged version aside (under the lock file's lock); throws when it cannot.
    void keepDamagedCopyLocked() const;
    /// Takes the lock file's lock, keeps the damaged version aside and writes what could be read.
    void repairLocked() const;
    /// Writes `values_` and bumps the change counter; the lock file's lock must be held.
    void replaceFileLocked() const;
    void changeLocked(const std::string& key, std::optional<Value> value);
    std::optional<std::uint64_t> readGenerationLocked() const;

    // Immutable after construction.
    const std::optional<std::filesystem::path> file_;
    const std::optional<std::filesystem::path> lockFile_;

    // Guarded by mutex_.
    mutable std::mutex mutex_;
    mutable Value::Dictionary values_;
    mutable int lockDescriptor_ = -1;
    mutable std::optional<std::uint64_t> generation_;
    mutable std::unique_ptr<Stamp> stamp_;
    mutable std::optional<Damage> damage_;
    std::vector<std::string> failedWrites_;
};

} // namespace somnara
