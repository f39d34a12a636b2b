#include "Synth.hpp"

#include <algorithm>
#include <stdexcept>

namespace somnara::soundgen {
namespace {

std::uint64_t splitmix(std::uint64_t& x) noexcept {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) noexcept {
    return (x << k) | (x >> (64 - k));
}

Biquad normalised(double b0, double b1, double b2, double a0, double a1, double a2) {
    Biquad q;
    q.b0 = b0 / a0;
    q.b1 = b1 / a0;
    q.b2 = b2 / a0;
    q.a1 = a1 / a0;
    q.a2 = a2 / a0;
    return q;
}

struct Angles {
    double cosw, alpha;
};

Angles angles(double rate, double frequency, double q) {
    const double w = 2.0 * std::numbers::pi * std::clamp(frequency, 1.0, rate * 0.49) / rate;
    return {std::cos(w), std::sin(w) / (2.0 * q)};
}

} // namespace

Rng::Rng(std::uint64_t seed) {
    for (auto& word : state_) {
        word = splitmix(seed);
    }
}

std::uint64_t Rng::next() noexcept {
    const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotl(state_[3], 45);
    return result;
}

double Rng::gaussian() noexcept {
    const double u = 1.0 - uniform(); // (0, 1]
    const double v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

Biquad Biquad::lowPass(double rate, double frequency, double q) {
    const auto [c, a] = angles(rate, frequency, q);
    return normalised((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + a, -2 * c, 1 - a);
}

Biquad Biquad::highPass(double rate, double frequency, double q) {
    const auto [c, a] = angles(rate, frequency, q);
    return normalised((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + a, -2 * c, 1 - a);
}

Biquad Biquad::bandPass(double rate, double frequency, double q) {
    const auto [c, a] = angles(rate, frequency, q);
    return normalised(a, 0, -a, 1 + a, -2 * c, 1 - a);
}

Biquad Biquad::peaking(double rate, double frequency, double q, double gainDb) {
    const auto [c, a] = angles(rate, frequency, q);
    const double g = std::pow(10.0, gainDb / 40.0);
    return normalised(1 + a * g, -2 * c, 1 - a * g, 1 + a / g, -2 * c, 1 - a / g);
}

Biquad Biquad::lowShelf(double rate, double frequency, double gainDb) {
    const auto [c, a] = angles(rate, frequency, std::numbers::sqrt2 / 2);
    const double g = std::pow(10.0, gainDb / 40.0);
    const double s = 2 * std::sqrt(g) * a;
    return normalised(g * ((g + 1) - (g - 1) * c + s), 2 * g * ((g - 1) - (g + 1) * c),
                      g * ((g + 1) - (g - 1) * c - s), (g + 1) + (g - 1) * c + s,
                      -2 * ((g - 1) + (g + 1) * c), (g + 1) + (g - 1) * c - s);
}

Biquad Biquad::highShelf(double rate, double frequency, double gainDb) {
    const auto [c, a] = angles(rate, frequency, std::numbers::sqrt2 / 2);
    const double g = std::pow(10.0, gainDb / 40.0);
    const double s = 2 * std::sqrt(g) * a;
    return normalised(g * ((g + 1) + (g - 1) * c + s), -2 * g * ((g - 1) + (g + 1) * c),
                      g * ((g + 1) + (g - 1) * c - s), (g + 1) - (g - 1) * c + s, 2 * ((g - 1) - (g + 1) * c),
                      (g + 1) - (g - 1) * c - s);
}

Synth::Synth(double sampleRate, std::size_t frames, std::uint64_t seed)
    : rate_(sampleRate), frames_(frames), rng_(seed) {
    if (frames == 0 || sampleRate <= 0) {
        throw std::invalid_argument("Synth: empty loop");
    }
}

const Fft& Synth::fft() {
    if (!fft_) {
        fft_ = std::make_unique<Fft>(frames_);
    }
    return *fft_;
}

Signal Synth::noise() {
    Signal signal(frames_);
    for (auto& sample : signal) {
        sample = static_cast<float>(rng_.gaussian());
    }
    return signal;
}

void Synth::filter(Signal& signal, Biquad biquad) const {
    for (const float sample : signal) {
        biquad.process(sample);
    }
    for (auto& sample : signal) {
        sample = static_cast<float>(biquad.process(sample));
    }
}

void Synth::filter(Signal& signal, std::initializer_list<Biquad> chain) const {
    for (const auto& biquad : chain) {
        filter(signal, biquad);
    }
}

void Synth::shape(Stereo& stereo, const std::function<double(double)>& magnitude) {
    const auto& transform = fft();
    std::vector<std::complex<double>> data(frames_);
    for (std::size_t i = 0; i < frames_; ++i) {
        data[i] = {stereo.left[i], stereo.right[i]};
    }
    transform.forward(data);
    // A real, even response keeps the left (real) and right (imaginary) parts apart.
    for (std::size_t k = 0; k < frames_; ++k) {
        const std::size_t bin = std::min(k, frames_ - k);
        const double hz = static_cast<double>(bin) * rate_ / static_cast<double>(frames_);
        data[k] *= bin == 0 ? 0.0 : magnitude(hz);
    }
    transform.inverse(data);
    for (std::size_t i = 0; i < frames_; ++i) {
        stereo.left[i] = static_cast<float>(data[i].real());
        stereo.right[i] = static_cast<float>(data[i].imag());
    }
}

void Synth::shape(Signal& mono, const std::function<double(double)>& magnitude) {
    Stereo pair{std::move(mono), Signal(frames_, 0.0F)};
    shape(pair, magnitude);
    mono = std::move(pair.left);
}

Signal Synth::wander(double pointsPerSecond) {
    const auto count =
        std::max<std::size_t>(4, static_cast<std::size_t>(std::lround(seconds() * pointsPerSecond)));
    std::vector<double> points(count);
    for (auto& point : points) {
        point = rng_.gaussian();
    }
    Signal curve(frames_);
    const double perFrame = static_cast<double>(count) / static_cast<double>(frames_);
    for (std::size_t i = 0; i < frames_; ++i) {
        const double position = static_cast<double>(i) * perFrame;
        const auto index = static_cast<std::size_t>(position);
        const double t = position - static_cast<double>(index);
        const double p0 = points[(index + count - 1) % count];
        const double p1 = points[index % count];
        const double p2 = points[(index + 1) % count];
        const double p3 = points[(index + 2) % count];
        // Catmull-Rom through p1..p2.
        curve[i] =
            static_cast<float>(0.5 * ((2 * p1) + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t +
                                      (-p0 + 3 * p1 - 3 * p2 + p3) * t * t * t));
    }
    return curve;
}

double Synth::loopFrequency(double hz) const noexcept {
    return std::max(1.0, std::round(hz * seconds())) / seconds();
}

double Synth::sine(double hz, std::size_t frame, double phase) const noexcept {
    // Whole cycles per loop: the phase is computed from the cycle count so it is exact at every frame.
    const double cycles = std::round(hz * seconds());
    const double turns = std::fmod(cycles * static_cast<double>(frame), static_cast<double>(frames_)) /
                         static_cast<double>(frames_);
    return std::sin(2.0 * std::numbers::pi * turns + phase);
}

void Synth::place(Signal& into, const Signal& grain, double start, double gain) const {
    auto at = static_cast<std::size_t>(std::fmod(std::max(0.0, start), seconds()) * rate_) % frames_;
    for (const float sample : grain) {
        into[at] += static_cast<float>(sample * gain);
        if (++at == frames_) {
            at = 0;
        }
    }
}

void Synth::place(Stereo& into, const Signal& grain, double start, double gain, double pan) const {
    const double angle = (std::clamp(pan, -1.0, 1.0) + 1) * std::numbers::pi / 4;
    place(into.left, grain, start, gain * std::cos(angle));
    place(into.right, grain, start, gain * std::sin(angle));
}

std::vector<double> Synth::times(std::size_t count, double minimumGap) {
    std::vector<double> result;
    const double length = seconds();
    for (int attempt = 0; result.size() < count && attempt < 10000; ++attempt) {
        const double t = rng_.uniform(0, length);
        const bool fits = std::none_of(result.begin(), result.end(), [&](double other) {
            const double d = std::abs(other - t);
            return std::min(d, length - d) < minimumGap;
        });
        if (fits) {
            result.push_back(t);
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}

Signal noiseBurst(Synth& synth, double seconds, double centre, double q, double attack, double decay) {
    const std::size_t n = synth.length(seconds);
    Signal grain(n);
    Biquad band = Biquad::bandPass(synth.rate(), centre, q);
    const double rate = synth.rate();
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double rise = attack > 0 ? std::min(1.0, t / attack) : 1.0;
        const double fall = std::exp(-std::max(0.0, t - attack) / decay);
        const double tail = std::min(1.0, static_cast<double>(n - i) / (0.002 * rate + 1));
        grain[i] = static_cast<float>(band.process(synth.rng().gaussian()) * rise * fall * tail);
    }
    return grain;
}

Signal partials(Synth& synth, double seconds, const std::vector<double>& frequencies,
                const std::vector<double>& amplitudes, const std::vector<double>& decays, double attack) {
    const std::size_t n = synth.length(seconds);
    Signal grain(n, 0.0F);
    const double rate = synth.rate();
    // A long fade-out: a ring cut short would end with a thump.
    const double tailLength = std::min(0.5 * rate, 0.2 * static_cast<double>(n)) + 1;
    for (std::size_t p = 0; p < frequencies.size(); ++p) {
        const double phase = synth.rng().uniform(0, 2 * std::numbers::pi);
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double rise = attack > 0 ? std::min(1.0, t / attack) : 1.0;
            const double tail = std::min(1.0, static_cast<double>(n - i) / tailLength);
            grain[i] += static_cast<float>(amplitudes[p] * rise * tail * std::exp(-t / decays[p]) *
                                           std::sin(2 * std::numbers::pi * frequencies[p] * t + phase));
        }
    }
    return grain;
}

Signal glide(Synth& synth, double seconds, const std::function<double(double)>& frequency,
             const std::function<double(double)>& envelope, int harmonics, double rolloff) {
    const std::size_t n = synth.length(seconds);
    Signal grain(n);
    double phase = 0;
    const double rate = synth.rate();
    for (std::size_t i = 0; i < n; ++i) {
        const double u = static_cast<double>(i) / static_cast<double>(n);
        const double f = frequency(u);
        phase += 2 * std::numbers::pi * f / rate;
        double value = 0;
        for (int k = 1; k <= harmonics; ++k) {
            if (f * k < rate * 0.45) {
                value += std::sin(phase * k) / std::pow(k, rolloff);
            }
        }
        grain[i] = static_cast<float>(value * envelope(u));
    }
    return grain;
}

void scale(Signal& signal, double gain) {
    for (auto& sample : signal) {
        sample = static_cast<float>(sample * gain);
    }
}

void add(Signal& into, const Signal& other, double gain) {
    for (std::size_t i = 0; i < into.size(); ++i) {
        into[i] += static_cast<float>(other[i] * gain);
    }
}

void multiply(Signal& signal, const Signal& envelope) {
    for (std::size_t i = 0; i < signal.size(); ++i) {
        signal[i] *= envelope[i];
    }
}

double rms(const Signal& signal) {
    double sum = 0;
    for (const float sample : signal) {
        sum += static_cast<double>(sample) * sample;
    }
    return signal.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(signal.size()));
}

void addPanned(Stereo& stereo, const Signal& mono, double pan, double gain) {
    const double angle = (std::clamp(pan, -1.0, 1.0) + 1) * std::numbers::pi / 4;
    const double left = std::cos(angle) * gain;
    const double right = std::sin(angle) * gain;
    add(stereo.left, mono, left);
    add(stereo.right, mono, right);
}

Stereo stereoNoise(Synth& synth, double correlation) {
    const Signal common = synth.noise();
    Stereo stereo{synth.noise(), synth.noise()};
    const double shared = std::sqrt(std::clamp(correlation, 0.0, 1.0));
    const double own = std::sqrt(1 - std::clamp(correlation, 0.0, 1.0));
    scale(stereo.left, own);
    scale(stereo.right, own);
    add(stereo.left, common, shared);
    add(stereo.right, common, shared);
    return stereo;
}

} // namespace somnara::soundgen

namespace somnara::soundgen {

void sweep(Signal& signal, const Signal& cutoff, double q, Band band, double rate, bool circular) {
    double s1 = 0;
    double s2 = 0;
    const double k = 1.0 / q;
    auto run = [&](bool keep) {
        for (std::size_t i = 0; i < signal.size(); ++i) {
            const double fc = std::clamp(static_cast<double>(cutoff[i]), 5.0, rate * 0.45);
            const double g = std::tan(std::numbers::pi * fc / rate);
            const double hp = (signal[i] - (k + g) * s1 - s2) / (1 + k * g + g * g);
            const double bp = g * hp + s1;
            s1 = g * hp + bp;
            const double lp = g * bp + s2;
            s2 = g * bp + lp;
            if (keep) {
                signal[i] = static_cast<float>(band == Band::low ? lp : band == Band::band ? bp * k : hp);
            }
        }
    };
    if (circular) {
        run(false);
    }
    run(true);
}

void reverb(Stereo& stereo, double rate, double decaySeconds, double wet, double preDelay) {
    // Four mutually prime delay lines mixed by a Householder matrix; the feedback gain per line sets a
    // 60 dB decay in `decaySeconds`.
    constexpr std::size_t lines = 4;
    const double lengthsMs[lines] = {29.7, 37.1, 41.1, 43.7};
    std::vector<std::vector<double>> delay(lines);
    std::vector<std::size_t> at(lines, 0);
    std::vector<double> gains(lines);
    std::vector<double> damp(lines, 0.0);
    for (std::size_t l = 0; l < lines; ++l) {
        const auto length = static_cast<std::size_t>(lengthsMs[l] * 0.001 * rate * (1 + preDelay));
        delay[l].assign(length, 0.0);
        gains[l] = std::pow(10.0, -3.0 * static_cast<double>(length) / rate / decaySeconds);
    }
    const std::size_t n = stereo.left.size();
    Signal left(n);
    Signal right(n);
    auto run = [&](bool keep) {
        for (std::size_t i = 0; i < n; ++i) {
            double outs[lines];
            for (std::size_t l = 0; l < lines; ++l) {
                outs[l] = delay[l][at[l]];
            }
            const double sum = (outs[0] + outs[1] + outs[2] + outs[3]) * 0.5;
            const double input[lines] = {stereo.left[i], stereo.right[i], stereo.left[i], stereo.right[i]};
            for (std::size_t l = 0; l < lines; ++l) {
                // A gentle low-pass in the loop: highs die sooner, as in a real room.
                damp[l] += 0.35 * ((outs[l] - sum) * gains[l] - damp[l]);
                delay[l][at[l]] = damp[l] + input[l] * 0.5;
                if (++at[l] == delay[l].size()) {
                    at[l] = 0;
                }
            }
            if (keep) {
                left[i] = static_cast<float>(outs[0] - outs[2] * 0.5 + outs[1] * 0.3);
                right[i] = static_cast<float>(outs[1] - outs[3] * 0.5 + outs[2] * 0.3);
            }
        }
    };
    run(false);
    run(true);
    for (std::size_t i = 0; i < n; ++i) {
        stereo.left[i] = static_cast<float>(stereo.left[i] * (1 - wet) + left[i] * wet);
        stereo.right[i] = static_cast<float>(stereo.right[i] * (1 - wet) + right[i] * wet);
    }
}

Signal murmur(Synth& synth, double seconds, double pitch, double phraseSeconds) {
    const double rate = synth.rate();
    const std::size_t n = synth.length(seconds);
    Signal source(n, 0.0F);
    Signal first(n);
    Signal second(n);
    Signal level(n);
    Rng& rng = synth.rng();
    double phase = 0;
    double syllableLeft = 0;
    double f1 = 500;
    double f2 = 1500;
    double target1 = f1;
    double target2 = f2;
    double phraseLeft = rng.uniform(0.3, phraseSeconds);
    bool speaking = rng.chance(0.7);
    double intonation = 0;
    double amplitude = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dt = 1.0 / rate;
        phraseLeft -= dt;
        if (phraseLeft <= 0) {
            speaking = !speaking;
            phraseLeft = speaking ? rng.uniform(0.6, phraseSeconds) : rng.uniform(0.2, 0.9);
        }
        syllableLeft -= dt;
        if (syllableLeft <= 0) {
            syllableLeft = rng.uniform(0.08, 0.25);
            target1 = rng.uniform(300, 850);
            target2 = rng.uniform(900, 2400);
            intonation = rng.uniform(-0.15, 0.2);
        }
        f1 += (target1 - f1) * 0.002;
        f2 += (target2 - f2) * 0.002;
        const double syllableShape = std::sin(std::numbers::pi * std::clamp(syllableLeft / 0.12, 0.0, 1.0));
        amplitude += ((speaking ? 0.4 + 0.6 * syllableShape : 0.0) - amplitude) * 0.003;
        const double f0 = pitch * (1 + intonation);
        phase += f0 / rate;
        if (phase >= 1) {
            phase -= 1;
        }
        // A glottal-like pulse with some breath.
        source[i] = static_cast<float>((phase < 0.4 ? std::sin(std::numbers::pi * phase / 0.4) : 0.0) +
                                       0.08 * rng.gaussian());
        first[i] = static_cast<float>(f1);
        second[i] = static_cast<float>(f2);
        level[i] = static_cast<float>(amplitude);
    }
    Signal a = source;
    Signal b = source;
    sweep(a, first, 6, Band::band, rate, false);
    sweep(b, second, 8, Band::band, rate, false);
    // Fade the ends so that a murmur placed anywhere on the loop starts and stops without a click.
    const double fade = std::min(0.05 * rate, static_cast<double>(n) / 2);
    for (std::size_t i = 0; i < n; ++i) {
        const double edge =
            std::min({1.0, static_cast<double>(i) / fade, static_cast<double>(n - 1 - i) / fade});
        source[i] = static_cast<float>((a[i] + 0.6F * b[i]) * level[i] * edge);
    }
    return source;
}

void saturate(Signal& signal, double drive) {
    for (auto& sample : signal) {
        sample = static_cast<float>(std::tanh(sample * drive) / std::tanh(drive));
    }
}

} // namespace somnara::soundgen
