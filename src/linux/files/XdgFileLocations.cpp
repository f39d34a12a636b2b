#include <somnara/linux/files/XdgFileLocations.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <vector>

namespace somnara {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::string> passwordDatabaseHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || *found->pw_dir == '\0') {
        return std::nullopt;
    }
    return std::string(found->pw_dir);
}

/// An XDG base directory: the variable when it holds an absolute path (the rules say relative ones
/// are to be ignored), else the fallback below the home directory.
std::optional<fs::path> baseDirectory(const std::optional<std::string>& variable,
                                      const std::optional<std::string>& home, const char* fallback) {
    if (variable && fs::path(*variable).is_absolute()) {
        return fs::path(*variable);
    }
    if (home && fs::path(*home).is_absolute()) {
        return fs::path(*home) / fallback;
    }
    return std::nullopt;
}

std::optional<fs::path> created(const std::optional<fs::path>& directory) {
    if (!directory) {
        return std::nullopt;
    }
    std::error_code error;
    fs::create_directories(*directory, error);
    if (error || !fs::is_directory(*directory, error)) {
        return std::nullopt;
    }
    return directory;
}

} // namespace

XdgFileLocations::Environment XdgFileLocations::Environment::fromProcess() {
    Environment environment;
    environment.somnaraHome = environmentVariable("SOMNARA_HOME");
    environment.xdgDataHome = environmentVariable("XDG_DATA_HOME");
    environment.xdgConfigHome = environmentVariable("XDG_CONFIG_HOME");
    environment.home = environmentVariable("HOME");
    if (!environment.home) {
        environment.home = passwordDatabaseHome();
    }
    return environment;
}

XdgFileLocations::XdgFileLocations(const Environment& environment) {
    if (environment.somnaraHome) {
        // A relative SOMNARA_HOME means the folder of that name where the program was started.
        std::error_code error;
        const fs::path home = fs::absolute(*environment.somnaraHome, error);
        if (!error) {
            documents_ = home;
            userDefaults_ = home / "defaults";
            sync_ = home / "sync";
        }
        return;
    }
    if (const auto data = baseDirectory(environment.xdgDataHome, environment.home, ".local/share")) {
        documents_ = *data / "somnara";
        sync_ = *documents_ / "sync";
    }
    if (const auto config = baseDirectory(environment.xdgConfigHome, environment.home, ".config")) {
        userDefaults_ = *config / "somnara";
    }
}

std::optional<fs::path> XdgFileLocations::documentsDirectory() const {
    return created(documents_);
}

std::optional<fs::path> XdgFileLocations::userDefaultsDirectory() const {
    return created(userDefaults_);
}

std::optional<fs::path> XdgFileLocations::defaultSyncDirectory() const {
    return created(sync_);
}

std::optional<std::string> XdgFileLocations::unusableDirectory() const {
    if (!documents_ || !userDefaults_ || !sync_) {
        return "no folder for the app's files: set SOMNARA_HOME, or HOME to an absolute path";
    }
    for (const auto& directory : {*documents_, *userDefaults_, *sync_}) {
        std::error_code error;
        fs::create_directories(directory, error);
        if (error) {
            return "cannot create the folder " + directory.string() + ": " + error.message();
        }
        if (!fs::is_directory(directory, error)) {
            return directory.string() + " is not a folder";
        }
    }
    return std::nullopt;
}

namespace {

std::mutex sharedLocationsMutex;
std::shared_ptr<const FileLocations> sharedLocations;

} // namespace

std::shared_ptr<const FileLocations> FileLocations::shared() {
    const std::lock_guard lock(sharedLocationsMutex);
    if (!sharedLocations) {
        sharedLocations = std::make_shared<XdgFileLocations>(XdgFileLocations::Environment::fromProcess());
    }
    return sharedLocations;
}

void FileLocations::setShared(std::shared_ptr<const FileLocations> locations) {
    const std::lock_guard lock(sharedLocationsMutex);
    sharedLocations = std::move(locations);
}

fs::path FileLocations::requireDocumentsDirectory(std::string_view file, int line) const {
    auto directory = documentsDirectory();
    if (!directory) {
        fatalBrokenPlatform("Can't find documents directory", file, line);
    }
    return std::move(*directory);
}

void fatalBrokenPlatform(std::string_view message, std::string_view file, int line) {
    SomnaraLogger::log(std::string(message), LogType::fault);
    std::fprintf(stderr, "%.*s:%d: Fatal error: %.*s\n", static_cast<int>(file.size()), file.data(), line,
                 static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace somnara
