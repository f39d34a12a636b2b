#pragma once

#include "Fft.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

namespace somnara::soundgen {

using Signal = std::vector<float>;

struct Stereo {
    Signal left;
    Signal right;
};

/// A small deterministic generator (xoshiro256**, seeded through splitmix64): the same seed gives the
/// same sounds on every machine and standard library, which std::*_distribution does not promise.
class Rng {
public:
    explicit Rng(std::uint64_t seed);
    std::uint64_t next() noexcept;
    /// Uniform in [0, 1).
    double uniform() noexcept { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double low, double high) noexcept { return low + (high - low) * uniform(); }
    /// Standard normal (Box-Muller).
    double gaussian() noexcept;
    bool chance(double probability) noexcept { return uniform() < probability; }

private:
    std::uint64_t state_[4];
};

/// RBJ cookbook biquad (direct form I in double precision).
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    static Biquad lowPass(double rate, double frequency, double q = std::numbers::sqrt2 / 2);
    static Biquad highPass(double rate, double frequency, double q = std::numbers::sqrt2 / 2);
    /// Constant 0 dB peak gain.
    static Biquad bandPass(double rate, double frequency, double q);
    static Biquad peaking(double rate, double frequency, double q, double gainDb);
    static Biquad lowShelf(double rate, double frequency, double gainDb);
    static Biquad highShelf(double rate, double frequency, double gainDb);

    double process(double x) noexcept {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

/// The loop being made: its rate and length, randomness, and tools that keep everything periodic in
/// the loop length so that the last frame runs into the first as into any other.
class Synth {
public:
    Synth(double sampleRate, std::size_t frames, std::uint64_t seed);

    double rate() const noexcept { return rate_; }
    std::size_t frames() const noexcept { return frames_; }
    double seconds() const noexcept { return static_cast<double>(frames_) / rate_; }
    Rng& rng() noexcept { return rng_; }

    Signal silence() const { return Signal(frames_, 0.0F); }
    /// Gaussian white noise, unit variance.
    Signal noise();
    /// Filters `signal` as if it had always been looping: one pass to settle the filter's state on
    /// the loop's end, then the pass that is kept.
    void filter(Signal& signal, Biquad biquad) const;
    void filter(Signal& signal, std::initializer_list<Biquad> chain) const;
    /// Shapes both channels' spectra by |H(f)| (f in Hz) with one periodic transform: exact slopes, no
    /// filter start-up, seamless by construction.
    void shape(Stereo& stereo, const std::function<double(double)>& magnitude);
    void shape(Signal& mono, const std::function<double(double)>& magnitude);
    /// A smooth random curve through `pointsPerSecond` random values (normal, mean 0, deviation 1),
    /// closed on itself with cubic interpolation.
    Signal wander(double pointsPerSecond);
    /// A frequency rounded to a whole number of cycles per loop, so that a steady tone joins itself.
    double loopFrequency(double hz) const noexcept;
    /// sin(2 pi f t + phase) for a loop frequency.
    double sine(double hz, std::size_t frame, double phase = 0) const noexcept;
    /// Adds `grain` at `start` seconds with `gain`, wrapping round the end.
    void place(Signal& into, const Signal& grain, double start, double gain = 1.0) const;
    /// `place` into both channels with an equal-power pan (-1 left .. 1 right).
    void place(Stereo& into, const Signal& grain, double start, double gain, double pan) const;
    /// `count` random times in the loop, sorted, at least `minimumGap` seconds apart (circularly) when
    /// that fits.
    std::vector<double> times(std::size_t count, double minimumGap = 0.0);
    /// Samples of `seconds` duration.
    std::size_t length(double seconds) const noexcept { return static_cast<std::size_t>(seconds * rate_); }

private:
    const Fft& fft();

    double rate_;
    std::size_t frames_;
    Rng rng_;
    std::unique_ptr<Fft> fft_;
};

/// The response a time-varying state-variable filter keeps.
enum class Band { low, band, high };

/// A state-variable filter (topology-preserving, so it stays stable however fast the cutoff moves)
/// whose cutoff follows `cutoff` sample by sample. With `circular`, the first pass settles the state
/// on the loop's end, as `Synth::filter` does.
void sweep(Signal& signal, const Signal& cutoff, double q, Band band, double rate, bool circular);
/// A small diffuse room or hall (a feedback delay network) mixed in at `wet`; circular, so the tail
/// of the loop's end rings into its start.
void reverb(Stereo& stereo, double rate, double decaySeconds, double wet, double preDelay = 0.01);
/// A voice-like murmur with no words: a pulse train at a wandering pitch through formants that jump
/// per syllable, phrased in bursts of `phraseSeconds` with pauses. Length `seconds`.
Signal murmur(Synth& synth, double seconds, double pitch, double phraseSeconds);
/// Soft saturation.
void saturate(Signal& signal, double drive);

// Grain helpers: short sounds placed on the timeline.

/// Noise through a band-pass with an exponential decay (a drop, a crackle, a footfall).
Signal noiseBurst(Synth& synth, double seconds, double centre, double q, double attack, double decay);
/// A decaying sum of partials (a chime, a bowl, a drip): frequencies, amplitudes and decay times (s).
Signal partials(Synth& synth, double seconds, const std::vector<double>& frequencies,
                const std::vector<double>& amplitudes, const std::vector<double>& decays, double attack);
/// A tone whose frequency follows `frequency(t)` (t in 0..1 of the grain) and amplitude `envelope(t)`,
/// with `harmonics` partials falling off as 1/k^rolloff.
Signal glide(Synth& synth, double seconds, const std::function<double(double)>& frequency,
             const std::function<double(double)>& envelope, int harmonics = 1, double rolloff = 1.0);

// Whole-signal helpers.
void scale(Signal& signal, double gain);
void add(Signal& into, const Signal& other, double gain = 1.0);
void multiply(Signal& signal, const Signal& envelope);
double rms(const Signal& signal);
/// Equal-power placement of a mono signal at `pan` (-1 left .. 1 right), added into `stereo`.
void addPanned(Stereo& stereo, const Signal& mono, double pan, double gain = 1.0);
/// A stereo signal from two independent noises that share `correlation` of their content.
Stereo stereoNoise(Synth& synth, double correlation);

} // namespace somnara::soundgen
