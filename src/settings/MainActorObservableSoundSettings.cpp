#include <somnara/runtime/StreamOperators.hpp>
#include <somnara/settings/MainActorObservableSoundSettings.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <cmath>

namespace somnara {

ObjectWillChangeSignal::Connection&
ObjectWillChangeSignal::Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        disconnect();
        observers_ = std::move(other.observers_);
        id_ = other.id_;
    }
    return *this;
}

ObjectWillChangeSignal::Connection::~Connection() {
    disconnect();
}

void ObjectWillChangeSignal::Connection::disconnect() {
    if (auto observers = observers_.lock()) {
        observers->erase(id_);
    }
    observers_.reset();
}

ObjectWillChangeSignal::Connection ObjectWillChangeSignal::connect(std::function<void()> observer) {
    const auto id = nextId_++;
    observers_->emplace(id, std::move(observer));
    return Connection(observers_, id);
}

void ObjectWillChangeSignal::send() const {
    // Observers may connect or disconnect while being told: call those connected now, if still connected.
    std::vector<std::uint64_t> ids;
    ids.reserve(observers_->size());
    for (const auto& [id, observer] : *observers_) {
        ids.push_back(id);
    }
    for (const auto id : ids) {
        const auto found = observers_->find(id);
        if (found != observers_->end()) {
            auto observer = found->second;
            observer();
        }
    }
}

namespace {

// Exact comparison, except that a NaN equals a NaN: an unchanged NaN must not tell observers again.
bool same(float a, float b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}
bool same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}
bool same(bool a, bool b) {
    return a == b;
}
bool same(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

std::shared_ptr<MainActorObservableSoundSettings>
MainActorObservableSoundSettings::make(std::shared_ptr<NoisePlayerSettingsStore> store) {
    auto object = std::make_shared<MainActorObservableSoundSettings>(Private{}, std::move(store));
    object->observation_ =
        observe(object, object->store_->noisePlayerSettingsSubject()->subscribe(),
                [](MainActorObservableSoundSettings& self, std::optional<NoisePlayerSettings> published) {
                    if (!published) {
                        return;
                    }
                    // Publications arrive a loop turn after the writes; show the newest
                    // settings, not an older value still queued behind a later edit.
                    self.show(self.store_->currentSettings().soundSettings);
                });
    return object;
}

MainActorObservableSoundSettings::MainActorObservableSoundSettings(
    Private, std::shared_ptr<NoisePlayerSettingsStore> store)
    : store_(std::move(store)) {
    // Nobody can be observing yet: take the current values without telling anyone.
    const auto& settings = store_->currentSettings().soundSettings;
    isSoundSettingsDefault_ = settings.isDefault();
    isVolumeDefault_ = settings.isVolumeDefault();
    isSpeedDefault_ = settings.isSpeedDefault();
    isReverbDefault_ = settings.isReverbDefault();
    isEqualizerGainLevelsDefault_ = settings.isEqualizerGainLevelsDefault();
    isPitchDefault_ = settings.isPitchDefault();
    isOscillationDefault_ = settings.isOscillationDefault();
    isDelayDefault_ = settings.isDelayDefault();
    speed_ = settings.speed;
    equalizerGainLevels_ = settings.equalizerGainLevels;
    reverb_ = settings.reverb;
    pitch_ = settings.pitch;
    oscillationRate_ = settings.oscillation.rate;
    oscillationStrength_ = settings.oscillation.strength;
    delayTime_ = settings.delay.time;
    delayFeedback_ = settings.delay.feedback;
    delayMix_ = settings.delay.mix;
    appVolume_ = settings.volume;
}

MainActorObservableSoundSettings::~MainActorObservableSoundSettings() {
    if (observation_) {
        observation_->cancel();
    }
}

template <class T>
void MainActorObservableSoundSettings::publish(T& field, const T& value) {
    if (same(field, value)) {
        return;
    }
    objectWillChange_.send();
    field = value;
}

void MainActorObservableSoundSettings::show(const SoundSettings& settings) {
    publish(isSoundSettingsDefault_, settings.isDefault());
    publish(isVolumeDefault_, settings.isVolumeDefault());
    publish(isSpeedDefault_, settings.isSpeedDefault());
    publish(isReverbDefault_, settings.isReverbDefault());
    publish(isEqualizerGainLevelsDefault_, settings.isEqualizerGainLevelsDefault());
    publish(isPitchDefault_, settings.isPitchDefault());
    publish(isOscillationDefault_, settings.isOscillationDefault());
    publish(isDelayDefault_, settings.isDelayDefault());
    publish(speed_, settings.speed);
    publish(equalizerGainLevels_, settings.equalizerGainLevels);
    publish(reverb_, settings.reverb);
    publish(pitch_, settings.pitch);
    publish(oscillationRate_, settings.oscillation.rate);
    publish(oscillationStrength_, settings.oscillation.strength);
    publish(delayTime_, settings.delay.time);
    publish(delayFeedback_, settings.delay.feedback);
    publish(delayMix_, settings.delay.mix);
    publish(appVolume_, settings.volume);
}

void MainActorObservableSoundSettings::edit(const std::function<SoundSettings(SoundSettings)>& change) {
    if (!change(store_->currentSettings().soundSettings).isFinite()) {
        // A NaN or an infinity would reach the audio units and could never be saved.
        SomnaraLogger::log("Ignored a sound setting that is not a finite number", LogType::error);
        return;
    }
    const auto written = store_->applyChange([&change](NoisePlayerSettings settings) {
        return settings.withSoundSettings(change(settings.soundSettings));
    });
    show(written.soundSettings);
}

void MainActorObservableSoundSettings::setSpeed(float value) {
    edit([value](const SoundSettings& s) { return s.withSpeed(value); });
}

void MainActorObservableSoundSettings::setEqualizerGainLevels(std::vector<float> value) {
    edit([&value](const SoundSettings& s) { return s.withEqualizerGainLevels(value); });
}

void MainActorObservableSoundSettings::setEqualizerGainLevel(std::size_t band, float value) {
    edit([band, value](const SoundSettings& s) {
        auto gains = s.equalizerGainLevels;
        if (band < gains.size()) {
            gains[band] = value;
        }
        return s.withEqualizerGainLevels(std::move(gains));
    });
}

void MainActorObservableSoundSettings::setReverb(float value) {
    edit([value](const SoundSettings& s) { return s.withReverb(value); });
}

void MainActorObservableSoundSettings::setPitch(float value) {
    edit([value](const SoundSettings& s) { return s.withPitch(value); });
}

void MainActorObservableSoundSettings::setOscillationRate(double value) {
    edit([value](const SoundSettings& s) { return s.withOscillation(s.oscillation.withRate(value)); });
}

void MainActorObservableSoundSettings::setOscillationStrength(float value) {
    edit([value](const SoundSettings& s) { return s.withOscillation(s.oscillation.withStrength(value)); });
}

void MainActorObservableSoundSettings::setDelayTime(double value) {
    edit([value](const SoundSettings& s) { return s.withDelay(s.delay.withTime(value)); });
}

void MainActorObservableSoundSettings::setDelayFeedback(float value) {
    edit([value](const SoundSettings& s) { return s.withDelay(s.delay.withFeedback(value)); });
}

void MainActorObservableSoundSettings::setDelayMix(float value) {
    edit([value](const SoundSettings& s) { return s.withDelay(s.delay.withMix(value)); });
}

void MainActorObservableSoundSettings::setAppVolume(float value) {
    edit([value](const SoundSettings& s) { return s.withVolume(value); });
}

void MainActorObservableSoundSettings::applyPreset(SoundSettings::Preset preset) {
    edit([preset](const SoundSettings&) { return SoundSettings::soundSettings(preset); });
}

void MainActorObservableSoundSettings::resetAllSoundSettings() {
    edit([](const SoundSettings&) { return SoundSettings::defaultValue(); });
}

void MainActorObservableSoundSettings::resetVolume() {
    edit([](const SoundSettings& s) { return s.withVolume(SoundSettings::defaultValue().volume); });
}

void MainActorObservableSoundSettings::resetSpeed() {
    edit([](const SoundSettings& s) { return s.withSpeed(SoundSettings::defaultValue().speed); });
}

void MainActorObservableSoundSettings::resetReverb() {
    edit([](const SoundSettings& s) { return s.withReverb(SoundSettings::defaultValue().reverb); });
}

void MainActorObservableSoundSettings::resetPitch() {
    edit([](const SoundSettings& s) { return s.withPitch(SoundSettings::defaultValue().pitch); });
}

void MainActorObservableSoundSettings::resetEqualizerGainLevels() {
    edit([](const SoundSettings& s) {
        return s.withEqualizerGainLevels(SoundSettings::defaultValue().equalizerGainLevels);
    });
}

void MainActorObservableSoundSettings::resetOscillation() {
    edit(
        [](const SoundSettings& s) { return s.withOscillation(SoundSettings::Oscillation::defaultValue()); });
}

void MainActorObservableSoundSettings::resetDelay() {
    edit([](const SoundSettings& s) { return s.withDelay(SoundSettings::Delay::defaultValue()); });
}

} // namespace somnara
