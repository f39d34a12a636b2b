#pragma once

#include <CLI/CLI.hpp>
#include <asio/awaitable.hpp>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace somnara {
class FolderCloudKeyValueStore;
}

namespace somnara::app {

/// Whether a command only reads what is stored or changes it: a change holds the home's lock from
/// before it reads until its writes are on disk, and fails when one of them failed.
enum class Access { reads, changes };

/// The `--sync-folder DIR` option of the commands that read or write what the user's devices share.
struct SyncFolderOption {
    std::string folder;

    void addTo(CLI::App& command);
    /// The folder: the option, else `SOMNARA_SYNC_FOLDER`, else the default below the home.
    std::filesystem::path resolve() const;
    /// Makes the sync folder the library's cloud key-value store, once it is known to be a folder (that
    /// can be written, for a change); throws `std::runtime_error` naming it otherwise. Needs the loop the
    /// command runs on.
    std::shared_ptr<FolderCloudKeyValueStore> install(Access access) const;
    /// The store last installed (empty before the first); kept for the life of the process.
    static std::shared_ptr<FolderCloudKeyValueStore>* installedStore();
};

/// How many writes have failed in this process: the installed sync folder's and those of the user
/// defaults the stores use. A change that made it grow was not saved.
std::size_t failedWriteCount();

/// Calls `work()` on a real loop with the sync folder installed, runs the work it returns as a task, and
/// returns once that has finished, after the cloud store's subscriptions have ended and what they
/// started has run down, so every save is on disk before the process ends. What the work throws is
/// thrown from here, and for a change, a write that failed. `work` makes the stores it needs before it
/// returns its coroutine, into variables of the caller, so that they outlive the loop's run-down.
void runSynced(const SyncFolderOption& syncFolder, Access access,
               const std::function<asio::awaitable<void>()>& work);

} // namespace somnara::app
