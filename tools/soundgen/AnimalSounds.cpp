#include "Recipes.hpp"

#include <algorithm>

namespace somnara::soundgen::recipes {
namespace {

Stereo quietNight(Synth& synth, double level) {
    Stereo stereo = stereoNoise(synth, 0.5);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        synth.filter(*channel, {Biquad::lowPass(synth.rate(), 500), Biquad::highPass(synth.rate(), 40)});
        scale(*channel, level);
    }
    return stereo;
}

// A smooth bell-shaped envelope over 0..1 with quick ends.
double bell(double u) {
    return std::sin(std::numbers::pi * u) * std::min(1.0, u * 20) * std::min(1.0, (1 - u) * 20);
}

// One bird's phrase: a trill, a whistle or a sweep of chirps, in the bird's own register.
Signal birdPhrase(Synth& synth, double register_) {
    Rng& rng = synth.rng();
    const int kind = static_cast<int>(rng.uniform(0, 3));
    Signal phrase;
    auto append = [&](const Signal& part, double gapSeconds) {
        phrase.insert(phrase.end(), part.begin(), part.end());
        phrase.insert(phrase.end(), synth.length(gapSeconds), 0.0F);
    };
    if (kind == 0) { // trill: quick repeated upward chirps
        const int notes = static_cast<int>(rng.uniform(6, 14));
        const double f = register_ * rng.uniform(0.9, 1.2);
        for (int k = 0; k < notes; ++k) {
            append(glide(
                       synth, 0.045, [f](double u) { return f * (0.8 + 0.5 * u); }, bell, 2, 2.0),
                   0.03);
        }
    } else if (kind == 1) { // whistle: two or three slow sliding notes
        const int notes = static_cast<int>(rng.uniform(2, 4));
        for (int k = 0; k < notes; ++k) {
            const double from = register_ * rng.uniform(0.7, 1.1);
            const double to = register_ * rng.uniform(0.7, 1.3);
            append(glide(
                       synth, rng.uniform(0.15, 0.35),
                       [from, to](double u) { return from + (to - from) * u + 60 * std::sin(40 * u); }, bell,
                       2, 2.5),
                   rng.uniform(0.05, 0.15));
        }
    } else { // chirps falling in pitch
        const int notes = static_cast<int>(rng.uniform(3, 7));
        double f = register_ * 1.3;
        for (int k = 0; k < notes; ++k) {
            append(glide(
                       synth, 0.07, [f](double u) { return f * (1.3 - 0.6 * u); }, bell, 2, 2.0),
                   0.06);
            f *= 0.93;
        }
    }
    return phrase;
}

// A pulsed call: `pulses` bursts of a tone with harmonics, `pulseSeconds` long, `gap` apart.
Signal pulsedCall(Synth& synth, double hz, int pulses, double pulseSeconds, double gap, int harmonics,
                  double rolloff) {
    Signal call;
    for (int p = 0; p < pulses; ++p) {
        const Signal pulse = glide(
            synth, pulseSeconds, [hz](double u) { return hz * (1 + 0.05 * u); }, bell, harmonics, rolloff);
        call.insert(call.end(), pulse.begin(), pulse.end());
        call.insert(call.end(), synth.length(gap), 0.0F);
    }
    return call;
}

} // namespace

// Birds at dawn: several birds, each with its own register and place, singing phrases now and then.
Stereo birds(Synth& synth) {
    Stereo stereo = quietNight(synth, 0.01);
    Stereo leaves = stereoNoise(synth, 0.2);
    synth.filter(leaves.left, Biquad::highPass(synth.rate(), 2500));
    synth.filter(leaves.right, Biquad::highPass(synth.rate(), 2500));
    add(stereo.left, leaves.left, 0.004);
    add(stereo.right, leaves.right, 0.004);
    for (int bird = 0; bird < 6; ++bird) {
        const double register_ = synth.rng().uniform(2200, 5500);
        const double pan = synth.rng().uniform(-0.9, 0.9);
        const double distance = synth.rng().uniform(0.2, 1.0);
        for (const double t : synth.times(static_cast<std::size_t>(synth.rng().uniform(4, 9)), 2.0)) {
            synth.place(stereo, birdPhrase(synth, register_), t, 0.3 * distance, pan);
        }
    }
    reverb(stereo, synth.rate(), 1.2, 0.2);
    return stereo;
}

// Crickets: each insect chirps three or four quick pulses of a pure high tone, over and over, at its
// own pitch and tempo; a few of them at different places.
Stereo crickets(Synth& synth) {
    Stereo stereo = quietNight(synth, 0.02);
    for (int cricket = 0; cricket < 5; ++cricket) {
        const double carrier = synth.rng().uniform(4200, 5400);
        const double pan = synth.rng().uniform(-0.9, 0.9);
        const double gain = synth.rng().uniform(0.05, 0.2);
        const double period = 1.0 / synth.loopFrequency(synth.rng().uniform(1.4, 2.6));
        const int pulses = synth.rng().chance(0.5) ? 3 : 4;
        const Signal chirp = pulsedCall(synth, carrier, pulses, 0.018, 0.014, 2, 3.0);
        for (double t = synth.rng().uniform(0, period); t < synth.seconds(); t += period) {
            synth.place(stereo, chirp, t, gain * synth.rng().uniform(0.8, 1.0), pan);
        }
    }
    return stereo;
}

// A pond of frogs: low croaks with a buzzing pulse, and high peeping slurs, in overlapping choruses.
Stereo frogs(Synth& synth) {
    Stereo stereo = quietNight(synth, 0.02);
    for (int frog = 0; frog < 6; ++frog) {
        const double hz = synth.rng().uniform(180, 420);
        const double pan = synth.rng().uniform(-1, 1);
        const double gain = synth.rng().uniform(0.1, 0.3);
        for (const double t : synth.times(static_cast<std::size_t>(synth.rng().uniform(8, 20)), 0.5)) {
            // A croak: a tone gated at about 35 pulses a second, the buzz of a frog's call.
            const double length = synth.rng().uniform(0.15, 0.35);
            Signal croak = glide(
                synth, length, [hz](double u) { return hz * (1 - 0.1 * u); }, bell, 8, 1.2);
            for (std::size_t i = 0; i < croak.size(); ++i) {
                const double s = static_cast<double>(i) / synth.rate();
                croak[i] *= static_cast<float>(0.5 + 0.5 * std::sin(2 * std::numbers::pi * 35 * s));
            }
            synth.place(stereo, croak, t, gain, pan);
            if (synth.rng().chance(0.5)) {
                synth.place(stereo, croak, t + length + 0.08, gain * 0.8, pan);
            }
        }
    }
    for (int peeper = 0; peeper < 3; ++peeper) {
        const double hz = synth.rng().uniform(2500, 3100);
        const double pan = synth.rng().uniform(-1, 1);
        for (const double t : synth.times(static_cast<std::size_t>(synth.rng().uniform(15, 30)), 0.3)) {
            const Signal peep = glide(
                synth, 0.12, [hz](double u) { return hz * (0.85 + 0.2 * u); }, bell, 1, 1.0);
            synth.place(stereo, peep, t, 0.05, pan);
        }
    }
    return stereo;
}

// An owl at night: soft low hoots in its rhythm ("hoo, hoo-hoo, hoooo"), far crickets, a breeze.
Stereo owl(Synth& synth) {
    Stereo stereo = quietNight(synth, 0.03);
    const double pan = synth.rng().uniform(-0.4, 0.4);
    for (const double t : synth.times(static_cast<std::size_t>(synth.seconds() / 6.5), 4.0)) {
        const double hz = synth.rng().uniform(360, 420);
        const std::vector<std::pair<double, double>> pattern = {
            {0.0, 0.35}, {0.8, 0.2}, {1.1, 0.25}, {1.6, 0.7}};
        for (const auto& [offset, length] : pattern) {
            const Signal hoot = glide(
                synth, length, [hz](double u) { return hz * (1.02 - 0.06 * u); },
                [](double u) { return std::pow(std::sin(std::numbers::pi * u), 1.5); }, 3, 3.0);
            synth.place(stereo, hoot, t + offset, 0.4, pan);
        }
    }
    for (int cricket = 0; cricket < 2; ++cricket) {
        const Signal chirp = pulsedCall(synth, synth.rng().uniform(4300, 5000), 3, 0.018, 0.014, 1, 1.0);
        const double period = 1.0 / synth.loopFrequency(1.2);
        for (double t = synth.rng().uniform(0, period); t < synth.seconds(); t += period) {
            synth.place(stereo, chirp, t, 0.01, cricket == 0 ? -0.8 : 0.8);
        }
    }
    reverb(stereo, synth.rate(), 2.0, 0.3);
    return stereo;
}

// Whales: long moaning calls that slide over an octave with vibrato and rich harmonics, echoing in
// the deep over the sea's low rumble.
Stereo whales(Synth& synth) {
    Stereo stereo = quietNight(synth, 0.05);
    synth.filter(stereo.left, Biquad::lowPass(synth.rate(), 200));
    synth.filter(stereo.right, Biquad::lowPass(synth.rate(), 200));
    for (const double t : synth.times(5, 4.0)) {
        const double from = synth.rng().uniform(120, 350);
        const double to = from * synth.rng().uniform(0.5, 2.0);
        const double length = synth.rng().uniform(2.5, 5.0);
        const double vibrato = synth.rng().uniform(3, 6);
        const Signal call = glide(
            synth, length,
            [=](double u) {
                const double curve = 0.5 - 0.5 * std::cos(std::numbers::pi * u);
                return (from + (to - from) * curve) *
                       (1 + 0.01 * std::sin(2 * std::numbers::pi * vibrato * u * length));
            },
            [](double u) { return std::pow(std::sin(std::numbers::pi * u), 0.7); }, 6, 1.5);
        synth.place(stereo, call, t, 0.3, synth.rng().uniform(-0.5, 0.5));
    }
    reverb(stereo, synth.rate(), 4.0, 0.5, 0.05);
    return stereo;
}

// Dolphins: fast whistles sweeping up and down in the high register, and click trains, under water.
Stereo dolphins(Synth& synth) {
    Stereo stereo = quietNight(synth, 0.04);
    for (const double t : synth.times(static_cast<std::size_t>(synth.seconds() / 1.5), 0.3)) {
        const double base = synth.rng().uniform(5000, 9000);
        const double depth = synth.rng().uniform(1000, 3000);
        const double wiggles = synth.rng().uniform(1, 4);
        const Signal whistle = glide(
            synth, synth.rng().uniform(0.3, 0.9),
            [=](double u) { return base + depth * std::sin(2 * std::numbers::pi * wiggles * u) + 2000 * u; },
            bell, 2, 3.0);
        synth.place(stereo, whistle, t, 0.15, synth.rng().uniform(-0.8, 0.8));
    }
    for (const double t : synth.times(12, 1.0)) {
        const double clickRate = synth.rng().uniform(20, 80);
        const double length = synth.rng().uniform(0.4, 1.2);
        const double pan = synth.rng().uniform(-0.8, 0.8);
        for (double s = 0; s < length; s += 1.0 / clickRate) {
            const Signal click = noiseBurst(synth, 0.004, 9000, 0.7, 0.0001, 0.0006);
            synth.place(stereo, click, t + s, 0.6, pan);
        }
    }
    reverb(stereo, synth.rate(), 1.5, 0.3);
    return stereo;
}

// A cat purring on your lap: a low rumble of about 25 throat pulses a second, louder on the out-breath
// than on the in-breath, in slow breaths.
Stereo cat(Synth& synth) {
    Signal purr = synth.noise();
    synth.filter(purr, {Biquad::lowPass(synth.rate(), 700), Biquad::highPass(synth.rate(), 40)});
    const double breathHz = synth.loopFrequency(0.45);
    const double pulseHz = synth.loopFrequency(26);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double breath = synth.sine(breathHz, i);
        // Exhale (positive half) louder and slightly faster than inhale.
        const double level = breath > 0 ? 0.6 + 0.4 * breath : 0.35 + 0.2 * breath;
        const double pulse = std::pow(0.5 + 0.5 * synth.sine(pulseHz, i), 3.0);
        purr[i] = static_cast<float>(purr[i] * level * (0.15 + pulse));
    }
    Signal body = purr;
    synth.filter(body, Biquad::peaking(synth.rate(), 120, 1.5, 8));
    Stereo stereo{body, body};
    scale(stereo.right, 0.9);
    return stereo;
}

// A rainforest: a cicada drone, tropical birds calling in two tones, frogs, drips from leaves.
Stereo jungle(Synth& synth) {
    Stereo stereo = quietNight(synth, 0.02);
    Signal cicada = synth.noise();
    synth.filter(cicada, Biquad::bandPass(synth.rate(), 6200, 4));
    const Signal swell = synth.wander(0.15);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double buzz = 0.5 + 0.5 * synth.sine(90, i);
        cicada[i] = static_cast<float>(cicada[i] * buzz * std::exp(0.5 * swell[i]));
    }
    addPanned(stereo, cicada, 0.4, 0.08);
    for (int bird = 0; bird < 5; ++bird) {
        const double low = synth.rng().uniform(800, 1800);
        const double high = low * synth.rng().uniform(1.3, 1.8);
        const double pan = synth.rng().uniform(-1, 1);
        for (const double t : synth.times(static_cast<std::size_t>(synth.rng().uniform(3, 7)), 2.0)) {
            for (int k = 0; k < 3; ++k) {
                const Signal note = glide(
                    synth, 0.22, [low, high](double u) { return u < 0.5 ? low : high; }, bell, 3, 1.5);
                synth.place(stereo, note, t + 0.3 * k, 0.2, pan);
            }
        }
    }
    for (int frog = 0; frog < 3; ++frog) {
        const double hz = synth.rng().uniform(300, 600);
        const Signal croak = pulsedCall(synth, hz, 4, 0.04, 0.03, 5, 1.2);
        for (const double t : synth.times(10, 0.5)) {
            synth.place(stereo, croak, t, 0.06, synth.rng().uniform(-1, 1));
        }
    }
    for (const double t : synth.times(static_cast<std::size_t>(1.5 * synth.seconds()))) {
        const Signal drop = noiseBurst(synth, 0.03, synth.rng().uniform(1500, 4000), 3, 0.0005, 0.006);
        synth.place(stereo, drop, t, 0.3, synth.rng().uniform(-1, 1));
    }
    reverb(stereo, synth.rate(), 1.5, 0.25);
    return stereo;
}

// A forest by day: leaves in the breeze, a few birds, a woodpecker now and then, a creaking branch.
Stereo forest(Synth& synth) {
    Stereo stereo = stereoNoise(synth, 0.2);
    const Signal breeze = synth.wander(0.3);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        synth.filter(*channel, {Biquad::highPass(synth.rate(), 1200), Biquad::lowPass(synth.rate(), 9000)});
        for (std::size_t i = 0; i < synth.frames(); ++i) {
            (*channel)[i] *= static_cast<float>(0.03 * std::exp(0.7 * breeze[i]));
        }
    }
    for (int bird = 0; bird < 3; ++bird) {
        const double register_ = synth.rng().uniform(2500, 4500);
        const double pan = synth.rng().uniform(-1, 1);
        for (const double t : synth.times(static_cast<std::size_t>(synth.rng().uniform(2, 5)), 3.0)) {
            synth.place(stereo, birdPhrase(synth, register_), t, 0.12, pan);
        }
    }
    for (const double t : synth.times(2, 8.0)) {
        const double pan = synth.rng().uniform(-0.8, 0.8);
        const int taps = static_cast<int>(synth.rng().uniform(10, 18));
        for (int k = 0; k < taps; ++k) {
            const Signal tap = noiseBurst(synth, 0.03, 1100, 2, 0.0003, 0.004);
            synth.place(stereo, tap, t + k / 16.0, 0.5, pan);
        }
    }
    for (const double t : synth.times(2, 8.0)) {
        const double hz = synth.rng().uniform(90, 160);
        const Signal creak = glide(
            synth, 0.8, [hz](double u) { return hz * (1 + 0.3 * u); }, bell, 12, 0.8);
        synth.place(stereo, creak, t, 0.02, synth.rng().uniform(-0.8, 0.8));
    }
    reverb(stereo, synth.rate(), 1.0, 0.2);
    return stereo;
}

// The womb: a mother's heart at 70 beats a minute, "lub-dub", and the whoosh of blood with each beat,
// all heard through water (nothing above a few hundred hertz).
Stereo womb(Synth& synth) {
    Signal whoosh = synth.noise();
    synth.filter(whoosh, {Biquad::lowPass(synth.rate(), 350), Biquad::highPass(synth.rate(), 30)});
    Signal beats = synth.silence();
    const double beatHz = synth.loopFrequency(70.0 / 60);
    const double period = 1.0 / beatHz;
    for (double t = 0; t < synth.seconds() - 1e-9; t += period) {
        const Signal lub = partials(synth, 0.2, {48, 70}, {1.0, 0.5}, {0.05, 0.035}, 0.01);
        const Signal dub = partials(synth, 0.15, {62, 90}, {0.7, 0.35}, {0.035, 0.025}, 0.008);
        synth.place(beats, lub, t);
        synth.place(beats, dub, t + 0.28);
    }
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double phase = std::fmod(static_cast<double>(i) / synth.rate(), period) / period;
        const double surge = 0.4 + 0.6 * std::exp(-phase * 5);
        whoosh[i] = static_cast<float>(whoosh[i] * surge * 0.2 + beats[i]);
    }
    synth.filter(whoosh, Biquad::lowPass(synth.rate(), 500));
    return Stereo{whoosh, whoosh};
}

} // namespace somnara::soundgen::recipes
