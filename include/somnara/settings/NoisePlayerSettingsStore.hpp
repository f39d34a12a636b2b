#pragma once

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/platform/UserDefaults.hpp>
#include <somnara/runtime/Task.hpp>
#include <somnara/settings/NoisePlayerSettings.hpp>

#include <asio/awaitable.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace somnara {

/// The single owner of the persisted player settings: loads them once, keeps them in memory, accepts
/// whole replacements, single-field resets and atomic updates, saves every change to the standard user
/// defaults under "settings_data", and publishes every change on `noisePlayerSettingsSubject()`.
///
/// Loading reads "settings_data"; only when that key is absent does it read the file "settings" that
/// earlier versions kept in the documents directory (never written or removed). Anything missing or
/// unreadable gives `NoisePlayerSettings::defaultValue()`, silently.
///
/// Loop only. The operations are awaitable so that callers treat the store as the one place that
/// orders changes, but none of them suspends: each runs to its end as one step of the loop, so a
/// read-change-write done inside `update` can never lose a change made by another task. A caller that
/// reads, awaits something else and then writes can; that is what `update` is for.
class NoisePlayerSettingsStore : public std::enable_shared_from_this<NoisePlayerSettingsStore> {
    struct Private {};

public:
    using Subject = AsyncCurrentValueSubject<std::optional<NoisePlayerSettings>>;

    /// The user-defaults key of the stored settings.
    static constexpr const char* userDefaultsKey = "settings_data";

    /// A store on the standard user defaults and the documents directory's legacy file. Ends the
    /// process when the platform has no documents directory. Starts the first load at once; the subject
    /// holds none until it is published.
    static std::shared_ptr<NoisePlayerSettingsStore> make();
    /// A store on other user defaults and another legacy file (tests, tools).
    static std::shared_ptr<NoisePlayerSettingsStore> make(std::shared_ptr<UserDefaults> userDefaults,
                                                          std::filesystem::path legacyFile);

    NoisePlayerSettingsStore(Private, std::shared_ptr<UserDefaults> userDefaults,
                             std::filesystem::path legacyFile);

    /// The file "settings" in the documents directory, where earlier versions kept the settings.
    static std::filesystem::path localDataPath();
    /// Reads settings stored as JSON in `file`; throws what reading or decoding throws.
    static NoisePlayerSettings load(const std::filesystem::path& file);

    const std::shared_ptr<Subject>& noisePlayerSettingsSubject() const noexcept { return subject_; }

    /// The current settings, loaded on first read.
    [[nodiscard]] asio::awaitable<NoisePlayerSettings> noisePlayerSettings();
    /// Replaces the settings: kept in memory at once, then published and saved by tasks of their own.
    [[nodiscard]] asio::awaitable<void> setNoisePlayerSettings(NoisePlayerSettings settings);
    /// Applies `change` to the newest settings and writes the result, in one step; returns it.
    [[nodiscard]] asio::awaitable<NoisePlayerSettings>
    update(std::function<NoisePlayerSettings(NoisePlayerSettings)> change);

    [[nodiscard]] asio::awaitable<void> setSoundSettings(SoundSettings soundSettings);
    [[nodiscard]] asio::awaitable<void> resetAllSoundSettings();
    // Each sets one part of the sound settings back to its default and keeps everything else.
    [[nodiscard]] asio::awaitable<void> resetVolume();
    [[nodiscard]] asio::awaitable<void> resetSpeed();
    [[nodiscard]] asio::awaitable<void> resetReverb();
    [[nodiscard]] asio::awaitable<void> resetPitch();
    [[nodiscard]] asio::awaitable<void> resetEqualizerGainLevels();
    [[nodiscard]] asio::awaitable<void> resetOscillation();
    [[nodiscard]] asio::awaitable<void> resetDelay();

    /// Waits for the save of the last write to end; true when it was stored (or nothing was written),
    /// false when it could not be encoded or was superseded before it began. For a program that must
    /// not end before its change is on disk.
    [[nodiscard]] asio::awaitable<bool> waitForSave();

    /// The same operations without awaiting, for code on the loop that is not a coroutine.
    const NoisePlayerSettings& currentSettings();
    NoisePlayerSettings applyChange(const std::function<NoisePlayerSettings(NoisePlayerSettings)>& change);
    void write(NoisePlayerSettings settings);

private:
    NoisePlayerSettings loadSettings() const;
    void changeSoundSettings(const std::function<SoundSettings(SoundSettings)>& change);

    // Immutable after construction.
    const std::shared_ptr<UserDefaults> userDefaults_;
    const std::filesystem::path legacyFile_;
    const std::shared_ptr<Subject> subject_;

    // Loop only.
    std::optional<Task<bool>> currentSaveTask_;
    std::optional<NoisePlayerSettings> loadedSettings_;
};

} // namespace somnara
