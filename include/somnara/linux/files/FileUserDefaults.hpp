#pragma once

#include <somnara/platform/UserDefaults.hpp>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

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
/// until the counter or the file changes. A missing, unreadable or corrupt file reads as empty defaults
/// (a corrupt one is reported in the log); a value the reader does not understand is skipped.
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

private:
    struct Stamp;

    void refreshLocked() const;
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
};

} // namespace somnara
