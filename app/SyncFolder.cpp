#include "SyncFolder.hpp"

#include <somnara/linux/cloud/FolderCloudKeyValueStore.hpp>
#include <somnara/platform/FileLocations.hpp>

#include <cstdlib>

namespace somnara::app {

void SyncFolderOption::addTo(CLI::App& command) {
    command
        .add_option(
            "--sync-folder", folder,
            "The folder your devices share (default: $SOMNARA_SYNC_FOLDER, else 'sync' below the home)")
        ->option_text("DIR");
}

std::filesystem::path SyncFolderOption::resolve() const {
    if (!folder.empty()) {
        return folder;
    }
    if (const char* environment = std::getenv("SOMNARA_SYNC_FOLDER");
        environment != nullptr && *environment != 0) {
        return environment;
    }
    const auto fallback = FileLocations::shared()->defaultSyncDirectory();
    if (!fallback) {
        fatalBrokenPlatform("Can't find the sync folder", __FILE__, __LINE__);
    }
    return *fallback;
}

void SyncFolderOption::install() const {
    // Kept for the life of the process, like the cloud store that will use it: it must not go before
    // the library's process-wide stores do, and they never go.
    static auto* store = new std::shared_ptr<FolderCloudKeyValueStore>();
    *store = FolderCloudKeyValueStore::make(resolve());
    CloudKeyValueStore::setDefaultStore(*store);
}

} // namespace somnara::app
