#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/stats/StandardStatsStore.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <system_error>
#include <utility>

namespace somnara {

StandardStatsStore::StandardStatsStore()
    : localDataPath_(FileLocations::shared()->requireDocumentsDirectory("SomnaraKit/StatsStore", __LINE__) /
                     fileName) {}

StandardStatsStore::StandardStatsStore(std::filesystem::path localDataPath)
    : localDataPath_(std::move(localDataPath)) {}

std::vector<PlayEvent> StandardStatsStore::load() {
    const auto text = readWholeFile(localDataPath_);
    if (!text) {
        throw std::filesystem::filesystem_error("no play events yet", localDataPath_,
                                                std::make_error_code(std::errc::no_such_file_or_directory));
    }
    try {
        return decodePlayEvents(*text);
    } catch (const std::exception& error) {
        // Whoever reads it next starts afresh and replaces it: the history goes nowhere without a copy.
        if (const auto copy = keepCorruptCopy(localDataPath_, *text)) {
            SomnaraLogger::log("Cannot read the play history " + localDataPath_.string() + " (" +
                                   error.what() + "); kept it as " + copy->string(),
                               LogType::error);
        }
        throw;
    }
}

void StandardStatsStore::save(const std::vector<PlayEvent>& playEvents) {
    const std::string text = encodePlayEvents(playEvents);
    writeFileAtomically(localDataPath_, text);
}

} // namespace somnara
