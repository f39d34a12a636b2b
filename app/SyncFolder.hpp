#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace somnara::app {

/// The `--sync-folder DIR` option of the commands that read or write what the user's devices share.
struct SyncFolderOption {
    std::string folder;

    void addTo(CLI::App& command);
    /// The folder: the option, else `SOMNARA_SYNC_FOLDER`, else the default below the home.
    std::filesystem::path resolve() const;
    /// Makes the sync folder the library's cloud key-value store. Needs the loop the command runs on.
    void install() const;
};

} // namespace somnara::app
