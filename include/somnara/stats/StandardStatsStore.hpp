#pragma once

#include <somnara/stats/StatsStore.hpp>

#include <filesystem>

namespace somnara {

/// The history as the JSON file "playback_logs" in the app's documents directory.
///
/// A save replaces the file atomically, so a process killed in the middle of one leaves the previous
/// history whole rather than a truncated file that the next start would have to throw away.
///
/// Immutable after construction; the tracker calls it from the loop, one call at a time.
class StandardStatsStore final : public StatsStore {
public:
    static constexpr const char* fileName = "playback_logs";

    /// The file in the platform's documents directory; ends the process with "Can't find documents
    /// directory" when the platform has none.
    StandardStatsStore();
    /// The file at `localDataPath`, for tools and tests that keep the history elsewhere.
    explicit StandardStatsStore(std::filesystem::path localDataPath);

    const std::filesystem::path& localDataPath() const noexcept { return localDataPath_; }

    /// Throws `std::filesystem::filesystem_error` when the file is missing or unreadable and
    /// `json::DecodingError` when its text is not a whole, valid history.
    std::vector<PlayEvent> load() override;
    /// Throws when an event cannot be encoded (nothing is written then) or the file cannot be replaced
    /// (the previous file stays).
    void save(const std::vector<PlayEvent>& playEvents) override;

private:
    std::filesystem::path localDataPath_;
};

} // namespace somnara
