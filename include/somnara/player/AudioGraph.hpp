#pragma once

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/audio/AudioMixerNode.hpp>
#include <somnara/audio/AudioPlayerNode.hpp>
#include <somnara/audio/AudioUnitDelay.hpp>
#include <somnara/audio/AudioUnitEQ.hpp>
#include <somnara/audio/AudioUnitReverb.hpp>
#include <somnara/audio/AudioUnitTimePitch.hpp>
#include <somnara/audio/AudioUnitVarispeed.hpp>
#include <somnara/settings/SoundSettings.hpp>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace somnara {

/// The noise player's audio graph: every sound's player node into the players mixer, then time pitch,
/// varispeed, delay, reverb and the equaliser into the engine's main mixer; and the mapping of the
/// sound settings onto those units. The graph is built once, so selecting a sound only starts or stops
/// its node.
///
/// Loop only. The oscillation part of the settings belongs to the oscillator, not to the graph.
class AudioGraph {
public:
    explicit AudioGraph(std::shared_ptr<AudioEngine> engine);

    /// Where the equaliser's bands sit: evenly spaced in hertz from 20 Hz to a tenth of the span below
    /// `nyquist`, half the lowest sample rate among the sound files.
    static std::array<float, AudioUnitEQ::maximumBandCount> equalizerBandFrequencies(double nyquist);

    /// Attaches and connects `players` and the effect chain. `lowestFileSampleRate` is the lowest rate
    /// among the sounds' files; without one (no file could be opened), or below 40 Hz, the bands are
    /// laid out for the engine's own rate, which is what the files would be resampled to anyway.
    void configure(const std::vector<std::shared_ptr<AudioPlayerNode>>& players,
                   std::optional<double> lowestFileSampleRate);

    /// Sets the units from `settings`. A unit whose settings are at their defaults is bypassed, so it
    /// costs nothing and passes the audio untouched; the reverb is never bypassed (0 is simply dry).
    /// Gains beyond the tenth band have no band to go to and are ignored.
    void applySoundSettings(const SoundSettings& settings);

    AudioEngine& engine() noexcept { return *engine_; }
    const std::shared_ptr<AudioMixerNode>& playersMixer() const noexcept { return playersMixer_; }
    const std::shared_ptr<AudioUnitTimePitch>& timePitch() const noexcept { return timePitch_; }
    const std::shared_ptr<AudioUnitVarispeed>& varispeed() const noexcept { return varispeed_; }
    const std::shared_ptr<AudioUnitDelay>& delay() const noexcept { return delay_; }
    const std::shared_ptr<AudioUnitReverb>& reverb() const noexcept { return reverb_; }
    const std::shared_ptr<AudioUnitEQ>& equalizer() const noexcept { return equalizer_; }

private:
    std::shared_ptr<AudioEngine> engine_;
    std::shared_ptr<AudioMixerNode> playersMixer_ = std::make_shared<AudioMixerNode>();
    std::shared_ptr<AudioUnitTimePitch> timePitch_ = std::make_shared<AudioUnitTimePitch>();
    std::shared_ptr<AudioUnitVarispeed> varispeed_ = std::make_shared<AudioUnitVarispeed>();
    std::shared_ptr<AudioUnitDelay> delay_ = std::make_shared<AudioUnitDelay>();
    std::shared_ptr<AudioUnitReverb> reverb_ = std::make_shared<AudioUnitReverb>();
    std::shared_ptr<AudioUnitEQ> equalizer_ = std::make_shared<AudioUnitEQ>();
};

} // namespace somnara
