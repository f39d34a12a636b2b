#include <somnara/player/AudioGraph.hpp>

#include <algorithm>
#include <cstddef>

namespace somnara {

namespace {

constexpr float lowestBandFrequency = 20.0F;
constexpr float bandBandwidthOctaves = 0.1F;

} // namespace

AudioGraph::AudioGraph(std::shared_ptr<AudioEngine> engine) : engine_(std::move(engine)) {}

std::array<float, AudioUnitEQ::maximumBandCount> AudioGraph::equalizerBandFrequencies(double nyquist) {
    std::array<float, AudioUnitEQ::maximumBandCount> frequencies{};
    const double step = (nyquist - lowestBandFrequency) / static_cast<double>(frequencies.size());
    for (std::size_t band = 0; band < frequencies.size(); ++band) {
        frequencies[band] = static_cast<float>(lowestBandFrequency + static_cast<double>(band) * step);
    }
    return frequencies;
}

void AudioGraph::configure(const std::vector<std::shared_ptr<AudioPlayerNode>>& players,
                           std::optional<double> lowestFileSampleRate) {
    const double lowestUsableRate = 2.0 * lowestBandFrequency;
    const double rate = lowestFileSampleRate.value_or(0.0) >= lowestUsableRate ? *lowestFileSampleRate
                                                                               : engine_->sampleRate();
    const auto frequencies = equalizerBandFrequencies(rate / 2.0);
    auto& bands = equalizer_->bands();
    for (std::size_t band = 0; band < bands.size(); ++band) {
        bands[band].setFilterType(AudioUnitEQFilterType::parametric);
        bands[band].setGain(0.0F);
        bands[band].setFrequency(frequencies[band]);
        bands[band].setBandwidth(bandBandwidthOctaves);
        bands[band].setBypass(false);
    }
    reverb_->loadFactoryPreset(AudioUnitReverbPreset::largeHall);

    for (const auto& player : players) {
        engine_->connect(player, playersMixer_);
    }
    engine_->connect(playersMixer_, timePitch_);
    engine_->connect(timePitch_, varispeed_);
    engine_->connect(varispeed_, delay_);
    engine_->connect(delay_, reverb_);
    engine_->connect(reverb_, equalizer_);
    engine_->connect(equalizer_, engine_->mainMixerNode());
}

void AudioGraph::applySoundSettings(const SoundSettings& settings) {
    const auto defaults = SoundSettings::defaultValue();
    engine_->mainMixerNode()->setOutputVolume(settings.volume);
    reverb_->setWetDryMix(settings.reverb);

    auto& bands = equalizer_->bands();
    const std::size_t gains = std::min(settings.equalizerGainLevels.size(), bands.size());
    for (std::size_t band = 0; band < gains; ++band) {
        const float gain = settings.equalizerGainLevels[band];
        bands[band].setGain(gain);
        bands[band].setBypass(gain == 0.0F);
    }
    equalizer_->setBypass(settings.equalizerGainLevels == defaults.equalizerGainLevels);

    varispeed_->setRate(settings.speed);
    varispeed_->setBypass(settings.speed == defaults.speed);
    timePitch_->setPitch(settings.pitch);
    timePitch_->setBypass(settings.pitch == defaults.pitch);

    delay_->setDelayTime(static_cast<float>(settings.delay.time));
    delay_->setFeedback(settings.delay.feedback);
    delay_->setWetDryMix(settings.delay.mix);
    delay_->setBypass(settings.delay.mix <= 0.0F);
}

} // namespace somnara
