#include "SyncFolder.hpp"

#include "Home.hpp"

#include <somnara/library/CloudStore.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/linux/cloud/FolderCloudKeyValueStore.hpp>
#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>

namespace somnara::app {

namespace fs = std::filesystem;

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
    requireUsableHome();
    return *FileLocations::shared()->defaultSyncDirectory();
}

std::shared_ptr<FolderCloudKeyValueStore> SyncFolderOption::install(Access access) const {
    const auto path = resolve();
    std::error_code error;
    fs::create_directories(path, error);
    if (error) {
        throw std::runtime_error("cannot use the sync folder " + path.string() + ": " + error.message());
    }
    if (!fs::is_directory(path, error)) {
        throw std::runtime_error("cannot use the sync folder " + path.string() + ": it is not a folder");
    }
    if (access == Access::changes && ::access(path.c_str(), W_OK | X_OK) != 0) {
        throw std::runtime_error("cannot use the sync folder " + path.string() + ": " + std::strerror(errno));
    }
    // Kept for the life of the process, like the cloud store that will use it: it must not go before
    // the library's process-wide stores do, and they never go.
    *installedStore() = FolderCloudKeyValueStore::make(path);
    CloudKeyValueStore::setDefaultStore(*installedStore());
    return *installedStore();
}

std::shared_ptr<FolderCloudKeyValueStore>* SyncFolderOption::installedStore() {
    static auto* store = new std::shared_ptr<FolderCloudKeyValueStore>();
    return store;
}

std::size_t failedWriteCount() {
    const auto& syncFolder = *SyncFolderOption::installedStore();
    auto failed = syncFolder ? syncFolder->failedWrites().size() : 0;
    for (const auto& defaults :
         {UserDefaults::standard(), SoundTrackFavouritesStore::openAppGroupUserDefaults()}) {
        if (const auto* file = dynamic_cast<const FileUserDefaults*>(defaults.get())) {
            failed += file->failedWrites().size();
        }
    }
    return failed;
}

void runSynced(const SyncFolderOption& syncFolder, Access access,
               const std::function<asio::awaitable<void>()>& work) {
    sayStorageErrors();
    std::optional<HomeLock> lock;
    if (access == Access::changes) {
        lock.emplace();
    } else {
        requireUsableHome();
    }
    RealLoop loop;
    syncFolder.install(access);
    std::exception_ptr failure;
    // Called here rather than inside the task, so the stores exist before anything runs on the loop.
    auto running = work();
    spawn([&]() -> asio::awaitable<void> {
        try {
            co_await std::move(running);
        } catch (...) {
            failure = std::current_exception();
        }
        loop.stop();
    });
    loop.run();
    // Ends the stores' cloud subscriptions so that their tasks let go of the stores while the loop is
    // still there to run them down, and lets the saves already started finish.
    CloudStore::shared()->stopObserving();
    CloudStore::shared()->dictionarySubject()->finish();
    loop.context().restart();
    while (loop.context().poll() > 0) {
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    // Each failure has been said on standard error as it was logged.
    if (access == Access::changes && failedWriteCount() > 0) {
        throw std::runtime_error("the change was not saved");
    }
}

} // namespace somnara::app
