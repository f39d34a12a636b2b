#pragma once

#include <somnara/runtime/Task.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace somnara {

/// Tells observers that an object is about to change, before the change is made, so that a screen can
/// take note of the old state (or simply schedule a redraw). Observers are called synchronously, in the
/// order they connected. Loop only.
class ObjectWillChangeSignal {
public:
    /// Keeps an observer connected for as long as it lives.
    class Connection {
    public:
        Connection() = default;
        Connection(Connection&& other) noexcept = default;
        Connection& operator=(Connection&& other) noexcept;
        ~Connection();
        void disconnect();

    private:
        friend class ObjectWillChangeSignal;
        Connection(std::weak_ptr<std::map<std::uint64_t, std::function<void()>>> observers, std::uint64_t id)
            : observers_(std::move(observers)), id_(id) {}
        std::weak_ptr<std::map<std::uint64_t, std::function<void()>>> observers_;
        std::uint64_t id_ = 0;
    };

    [[nodiscard]] Connection connect(std::function<void()> observer);
    void send() const;

private:
    std::shared_ptr<std::map<std::uint64_t, std::function<void()>>> observers_ =
        std::make_shared<std::map<std::uint64_t, std::function<void()>>>();
    std::uint64_t nextId_ = 1;
};

/// The screen-facing mirror of the sound settings: one published value per editable parameter and one
/// published flag per default test, following the settings store, and edits that go back through it.
///
/// Each edit writes one changed copy of the sound settings through the store's atomic update, so an
/// edit never undoes a change made elsewhere meanwhile; the values and flags show the result at once.
/// Observers connected to `objectWillChange()` are told before each published property changes (once
/// per property that actually changes; assigning an equal value tells nobody).
///
/// Loop only (the "main thread" of the screens).
class MainActorObservableSoundSettings
    : public std::enable_shared_from_this<MainActorObservableSoundSettings> {
    struct Private {};

public:
    /// Starts with the store's current settings (so a screen never shows defaults it does not have)
    /// and follows every value the store publishes.
    static std::shared_ptr<MainActorObservableSoundSettings>
    make(std::shared_ptr<NoisePlayerSettingsStore> store);

    MainActorObservableSoundSettings(Private, std::shared_ptr<NoisePlayerSettingsStore> store);
    ~MainActorObservableSoundSettings();

    MainActorObservableSoundSettings(const MainActorObservableSoundSettings&) = delete;
    MainActorObservableSoundSettings& operator=(const MainActorObservableSoundSettings&) = delete;

    ObjectWillChangeSignal& objectWillChange() noexcept { return objectWillChange_; }

    bool isSoundSettingsDefault() const noexcept { return isSoundSettingsDefault_; }
    bool isVolumeDefault() const noexcept { return isVolumeDefault_; }
    bool isSpeedDefault() const noexcept { return isSpeedDefault_; }
    bool isReverbDefault() const noexcept { return isReverbDefault_; }
    bool isEqualizerGainLevelsDefault() const noexcept { return isEqualizerGainLevelsDefault_; }
    bool isPitchDefault() const noexcept { return isPitchDefault_; }
    bool isOscillationDefault() const noexcept { return isOscillationDefault_; }
    bool isDelayDefault() const noexcept { return isDelayDefault_; }
    float speed() const noexcept { return speed_; }
    const std::vector<float>& equalizerGainLevels() const noexcept { return equalizerGainLevels_; }
    float reverb() const noexcept { return reverb_; }
    float pitch() const noexcept { return pitch_; }
    double oscillationRate() const noexcept { return oscillationRate_; }
    float oscillationStrength() const noexcept { return oscillationStrength_; }
    double delayTime() const noexcept { return delayTime_; }
    float delayFeedback() const noexcept { return delayFeedback_; }
    float delayMix() const noexcept { return delayMix_; }
    float appVolume() const noexcept { return appVolume_; }
    const std::shared_ptr<NoisePlayerSettingsStore>& noisePlayerSettingsStore() const noexcept {
        return store_;
    }

    // Edits: each writes one changed copy of the newest sound settings through the store.
    void setSpeed(float value);
    void setEqualizerGainLevels(std::vector<float> value);
    /// Changes one band; an index beyond the array does nothing.
    void setEqualizerGainLevel(std::size_t band, float value);
    void setReverb(float value);
    void setPitch(float value);
    void setOscillationRate(double value);
    void setOscillationStrength(float value);
    void setDelayTime(double value);
    void setDelayFeedback(float value);
    void setDelayMix(float value);
    void setAppVolume(float value);
    void applyPreset(SoundSettings::Preset preset);

    void resetAllSoundSettings();
    void resetVolume();
    void resetSpeed();
    void resetReverb();
    void resetPitch();
    void resetEqualizerGainLevels();
    void resetOscillation();
    void resetDelay();

private:
    void edit(const std::function<SoundSettings(SoundSettings)>& change);
    void show(const SoundSettings& settings);
    template <class T>
    void publish(T& field, const T& value);

    // Immutable after construction.
    const std::shared_ptr<NoisePlayerSettingsStore> store_;

    // Loop only.
    ObjectWillChangeSignal objectWillChange_;
    std::optional<Task<void>> observation_;
    bool isSoundSettingsDefault_ = true;
    bool isVolumeDefault_ = true;
    bool isSpeedDefault_ = true;
    bool isReverbDefault_ = true;
    bool isEqualizerGainLevelsDefault_ = true;
    bool isPitchDefault_ = true;
    bool isOscillationDefault_ = true;
    bool isDelayDefault_ = true;
    float speed_ = 1.0F;
    std::vector<float> equalizerGainLevels_ = SoundSettings::defaultValue().equalizerGainLevels;
    float reverb_ = 0.0F;
    float pitch_ = 0.0F;
    double oscillationRate_ = 10.0;
    float oscillationStrength_ = 0.0F;
    double delayTime_ = 1.0;
    float delayFeedback_ = 0.0F;
    float delayMix_ = 0.0F;
    float appVolume_ = 1.0F;
};

} // namespace somnara
