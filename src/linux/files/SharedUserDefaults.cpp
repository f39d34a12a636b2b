#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <map>
#include <mutex>

namespace somnara {

namespace {

std::mutex sharedMutex;
std::shared_ptr<UserDefaults> sharedStandard;
std::map<std::string, std::shared_ptr<UserDefaults>> sharedSuites;

std::shared_ptr<UserDefaults> makeShared(const std::optional<std::string>& suiteName) {
    const auto fileName = FileUserDefaults::fileName(suiteName);
    const auto directory = FileLocations::shared()->userDefaultsDirectory();
    if (!directory) {
        // Losing the defaults at exit is better than not starting: the player still works.
        SomnaraLogger::log("No user defaults directory; keeping " + fileName + " in memory only",
                           LogType::error);
        return std::make_shared<FileUserDefaults>(std::nullopt);
    }
    return std::make_shared<FileUserDefaults>(*directory / fileName);
}

} // namespace

std::shared_ptr<UserDefaults> UserDefaults::standard() {
    const std::lock_guard lock(sharedMutex);
    if (!sharedStandard) {
        sharedStandard = makeShared(std::nullopt);
    }
    return sharedStandard;
}

std::shared_ptr<UserDefaults> UserDefaults::suite(const std::string& name) {
    const std::lock_guard lock(sharedMutex);
    auto& instance = sharedSuites[name];
    if (!instance) {
        try {
            instance = makeShared(name);
        } catch (...) {
            sharedSuites.erase(name);
            throw;
        }
    }
    return instance;
}

void UserDefaults::resetShared() {
    const std::lock_guard lock(sharedMutex);
    sharedStandard.reset();
    sharedSuites.clear();
}

} // namespace somnara
