#pragma once

#include <somnara/platform/FileLocations.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace somnara {

/// The file locations of a Linux user, after the XDG base directory rules (see `FileLocations`).
/// Immutable after construction; any thread.
class XdgFileLocations final : public FileLocations {
public:
    /// What the locations are computed from; each is none when unset or empty.
    struct Environment {
        std::optional<std::string> somnaraHome;
        std::optional<std::string> xdgDataHome;
        std::optional<std::string> xdgConfigHome;
        /// `HOME`, or else the home directory of the user in the password database.
        std::optional<std::string> home;

        static Environment fromProcess();
    };

    explicit XdgFileLocations(const Environment& environment);

    std::optional<std::filesystem::path> documentsDirectory() const override;
    std::optional<std::filesystem::path> userDefaultsDirectory() const override;
    std::optional<std::filesystem::path> defaultSyncDirectory() const override;

    /// Creates the directories and says, in a sentence naming the path, why the first that cannot be
    /// used cannot ("cannot create the folder /x/defaults: Not a directory"); none when all can. For
    /// a program that must explain why it cannot start rather than meet the platform's fatal error.
    std::optional<std::string> unusableDirectory() const;

private:
    // The paths as named, not yet created; none when the environment names no place for them.
    std::optional<std::filesystem::path> documents_;
    std::optional<std::filesystem::path> userDefaults_;
    std::optional<std::filesystem::path> sync_;
};

} // namespace somnara
