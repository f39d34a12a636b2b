#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/foundation/Json.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>
#include <somnara/system/SomnaraLogger.hpp>

namespace somnara {

namespace {

// Where a missing documents directory is reported from.
constexpr const char* sourceFile = "SomnaraKit/NoisePlayerSettings";
constexpr int documentsDirectoryLine = 109;

} // namespace

std::shared_ptr<NoisePlayerSettingsStore> NoisePlayerSettingsStore::make() {
    return make(UserDefaults::standard(), localDataPath());
}

std::shared_ptr<NoisePlayerSettingsStore>
NoisePlayerSettingsStore::make(std::shared_ptr<UserDefaults> userDefaults, std::filesystem::path legacyFile) {
    auto store =
        std::make_shared<NoisePlayerSettingsStore>(Private{}, std::move(userDefaults), std::move(legacyFile));
    // Subscribers see none first and then the loaded settings.
    spawn([weak = std::weak_ptr<NoisePlayerSettingsStore>(store)]() -> asio::awaitable<void> {
        if (auto self = weak.lock()) {
            self->subject_->send(self->currentSettings());
        }
        co_return;
    });
    return store;
}

NoisePlayerSettingsStore::NoisePlayerSettingsStore(Private, std::shared_ptr<UserDefaults> userDefaults,
                                                   std::filesystem::path legacyFile)
    : userDefaults_(std::move(userDefaults)), legacyFile_(std::move(legacyFile)),
      subject_(Subject::make(std::nullopt)) {}

std::filesystem::path NoisePlayerSettingsStore::localDataPath() {
    return FileLocations::shared()->requireDocumentsDirectory(sourceFile, documentsDirectoryLine) /
           "settings";
}

NoisePlayerSettings NoisePlayerSettingsStore::load(const std::filesystem::path& file) {
    const auto text = readWholeFile(file);
    if (!text) {
        throw std::filesystem::filesystem_error("no settings file", file,
                                                std::make_error_code(std::errc::no_such_file_or_directory));
    }
    return NoisePlayerSettings::decode(*text);
}

NoisePlayerSettings NoisePlayerSettingsStore::loadSettings() const {
    try {
        // Stored data wins even when it cannot be read: the legacy file is older than anything written
        // under the key. A value of another type there is not settings data at all, so it counts as none.
        const auto stored = userDefaults_->object(userDefaultsKey);
        const auto* data = stored ? stored->get<UserDefaultsValue::Data>() : nullptr;
        if (data == nullptr) {
            return load(legacyFile_);
        }
        try {
            return NoisePlayerSettings::decode(
                std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
        } catch (const std::exception& error) {
            // The next write replaces it with the defaults: keep what the user had.
            if (const auto copy =
                    userDefaults_->keepUnreadable(userDefaultsKey, *data, Loop::current().now())) {
                SomnaraLogger::log(std::string("Cannot read the stored settings (") + error.what() +
                                       "); kept them as \"" + *copy + "\" and went on with the defaults",
                                   LogType::error);
            }
            throw;
        }
    } catch (const std::exception&) {
        return NoisePlayerSettings::defaultValue();
    }
}

const NoisePlayerSettings& NoisePlayerSettingsStore::currentSettings() {
    if (!loadedSettings_) {
        loadedSettings_ = loadSettings();
    }
    return *loadedSettings_;
}

void NoisePlayerSettingsStore::write(NoisePlayerSettings settings) {
    loadedSettings_ = settings;
    spawn([subject = subject_, settings]() -> asio::awaitable<void> {
        subject->send(settings);
        co_return;
    });
    if (currentSaveTask_) {
        currentSaveTask_->cancel();
    }
    // A save superseded before it began is skipped; one that has begun runs to its end, so saves land in
    // the order of the writes and the last write is the one stored.
    currentSaveTask_ =
        spawn([userDefaults = userDefaults_, settings = std::move(settings)]() -> asio::awaitable<bool> {
            const bool cancelled = co_await isCancelled();
            if (cancelled) {
                co_return false;
            }
            std::string text;
            try {
                text = settings.encode();
            } catch (const std::exception&) {
                // Not reported: the settings stay in memory and the stored copy keeps the last good ones.
                co_return false;
            }
            userDefaults->set(UserDefaultsValue::Data(text.begin(), text.end()), userDefaultsKey);
            co_return true;
        });
}

asio::awaitable<bool> NoisePlayerSettingsStore::waitForSave() {
    if (!currentSaveTask_) {
        co_return true;
    }
    const auto saving = *currentSaveTask_;
    const bool stored = co_await saving.value();
    co_return stored;
}

NoisePlayerSettings
NoisePlayerSettingsStore::applyChange(const std::function<NoisePlayerSettings(NoisePlayerSettings)>& change) {
    auto changed = change(currentSettings());
    write(changed);
    return changed;
}

void NoisePlayerSettingsStore::changeSoundSettings(
    const std::function<SoundSettings(SoundSettings)>& change) {
    applyChange([&change](NoisePlayerSettings settings) {
        return settings.withSoundSettings(change(settings.soundSettings));
    });
}

asio::awaitable<NoisePlayerSettings> NoisePlayerSettingsStore::noisePlayerSettings() {
    co_return currentSettings();
}

asio::awaitable<void> NoisePlayerSettingsStore::setNoisePlayerSettings(NoisePlayerSettings settings) {
    write(std::move(settings));
    co_return;
}

asio::awaitable<NoisePlayerSettings>
NoisePlayerSettingsStore::update(std::function<NoisePlayerSettings(NoisePlayerSettings)> change) {
    co_return applyChange(change);
}

asio::awaitable<void> NoisePlayerSettingsStore::setSoundSettings(SoundSettings soundSettings) {
    write(currentSettings().withSoundSettings(std::move(soundSettings)));
    co_return;
}

asio::awaitable<void> NoisePlayerSettingsStore::resetAllSoundSettings() {
    write(currentSettings().withSoundSettings(SoundSettings::defaultValue()));
    co_return;
}

asio::awaitable<void> NoisePlayerSettingsStore::resetVolume() {
    changeSoundSettings(
        [](const SoundSettings& s) { return s.withVolume(SoundSettings::defaultValue().volume); });
    co_return;
}

asio::awaitable<void> NoisePlayerSettingsStore::resetSpeed() {
    changeSoundSettings(
        [](const SoundSettings& s) { return s.withSpeed(SoundSettings::defaultValue().speed); });
    co_return;
}

asio::awaitable<void> NoisePlayerSettingsStore::resetReverb() {
    changeSoundSettings(
        [](const SoundSettings& s) { return s.withReverb(SoundSettings::defaultValue().reverb); });
    co_return;
}

asio::awaitable<void> NoisePlayerSettingsStore::resetPitch() {
    changeSoundSettings(
        [](const SoundSettings& s) { return s.withPitch(SoundSettings::defaultValue().pitch); });
    co_return;
}

asio::awaitable<void> NoisePlayerSettingsStore::resetEqualizerGainLevels() {
    changeSoundSettings([](const SoundSettings& s) {
        return s.withEqualizerGainLevels(SoundSettings::defaultValue().equalizerGainLevels);
    });
    co_return;
}

asio::awaitable<void> NoisePlayerSettingsStore::resetOscillation() {
    changeSoundSettings(
        [](const SoundSettings& s) { return s.withOscillation(SoundSettings::Oscillation::defaultValue()); });
    co_return;
}

asio::awaitable<void> NoisePlayerSettingsStore::resetDelay() {
    changeSoundSettings(
        [](const SoundSettings& s) { return s.withDelay(SoundSettings::Delay::defaultValue()); });
    co_return;
}

} // namespace somnara
