#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace somnara {

/// Where the library keeps its files: the documents directory (settings of earlier versions, the
/// play-events file, downloaded sounds), the user defaults and the sync folder of the cloud key-value
/// store.
///
/// On Linux (area `linux_files`, which defines the process-wide accessors below and must be linked by
/// whoever uses them): the documents directory is `$XDG_DATA_HOME/somnara` (by default
/// `~/.local/share/somnara`), the user defaults live in `$XDG_CONFIG_HOME/somnara` (by default
/// `~/.config/somnara`), and the sync folder is `sync` in the documents directory. With `SOMNARA_HOME`
/// set, the documents directory is that folder itself and everything else lives below it
/// (`$SOMNARA_HOME/defaults`, `$SOMNARA_HOME/sync`), so that a test or a second instance of the app
/// keeps all its files in one place.
///
/// Each operation creates the directory when it is missing and answers none when it cannot be named
/// or created: a broken platform, which callers end the process for (`fatalBrokenPlatform`).
///
/// Threads: any; implementations are immutable after construction.
class FileLocations {
public:
    virtual ~FileLocations() = default;

    virtual std::optional<std::filesystem::path> documentsDirectory() const = 0;
    virtual std::optional<std::filesystem::path> userDefaultsDirectory() const = 0;
    virtual std::optional<std::filesystem::path> defaultSyncDirectory() const = 0;

    /// The process-wide locations: those set by `setShared`, or else the platform's, read from the
    /// environment on first use.
    static std::shared_ptr<const FileLocations> shared();
    /// Replaces the process-wide locations (tests, the app's command line); none goes back to the
    /// platform's, read from the environment again on next use.
    static void setShared(std::shared_ptr<const FileLocations> locations);

    /// The documents directory, or the end of the process with the fatal message "Can't find
    /// documents directory" reported as coming from `file` at `line`.
    std::filesystem::path requireDocumentsDirectory(std::string_view file, int line) const;
};

/// Ends the process after writing `message` to the system log (fault) and to standard error, with the
/// source `file` and `line` that found the platform broken. Not for errors a caller can act on.
[[noreturn]] void fatalBrokenPlatform(std::string_view message, std::string_view file, int line);

} // namespace somnara
