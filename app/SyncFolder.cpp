#include "SyncFolder.hpp"

#include <somnara/library/CloudStore.hpp>
#include <somnara/linux/cloud/FolderCloudKeyValueStore.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>

#include <cstdlib>
#include <exception>

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

void runSynced(const SyncFolderOption& syncFolder, const std::function<asio::awaitable<void>()>& work) {
    RealLoop loop;
    syncFolder.install();
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
}

} // namespace somnara::app
