#include "Recipes.hpp"

#include <algorithm>

namespace somnara::soundgen::recipes {
namespace {

Stereo bandNoise(Synth& synth, double low, double high, double correlation, double gain) {
    Stereo stereo = stereoNoise(synth, correlation);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        synth.filter(*channel, {Biquad::highPass(synth.rate(), low), Biquad::lowPass(synth.rate(), high)});
        scale(*channel, gain);
    }
    return stereo;
}

} // namespace

// A campfire: a low roar of flame, a hiss that flares, and crackles in bursts with the odd loud pop.
Stereo fire(Synth& synth) {
    Stereo stereo = bandNoise(synth, 30, 250, 0.6, 0.5);
    Stereo hiss = bandNoise(synth, 2000, 10000, 0.3, 0.05);
    const Signal flare = synth.wander(0.6);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double g = std::exp(0.7 * flare[i]);
        stereo.left[i] += static_cast<float>(hiss.left[i] * g);
        stereo.right[i] += static_cast<float>(hiss.right[i] * g);
    }
    // Crackles come in clusters: a burst of activity, then calm.
    for (const double cluster : synth.times(static_cast<std::size_t>(synth.seconds() * 1.2))) {
        const int count = static_cast<int>(synth.rng().uniform(3, 25));
        const double pan = synth.rng().uniform(-0.6, 0.6);
        for (int k = 0; k < count; ++k) {
            const double centre = synth.rng().uniform(1500, 6000);
            const Signal crackle =
                noiseBurst(synth, 0.015, centre, 0.8, 0.0002, synth.rng().uniform(0.0008, 0.003));
            const double loud = std::pow(synth.rng().uniform(), 3.0) * 2.0;
            synth.place(stereo, crackle, cluster + synth.rng().uniform(0, 0.6), loud,
                        pan + synth.rng().uniform(-0.2, 0.2));
        }
    }
    for (const double t : synth.times(static_cast<std::size_t>(synth.seconds() / 3))) {
        const Signal pop = noiseBurst(synth, 0.08, 900, 0.6, 0.0005, 0.012);
        synth.place(stereo, pop, t, 2.0, synth.rng().uniform(-0.5, 0.5));
    }
    return stereo;
}

// Wind in the open: gusts that rise and fall, a band of noise that moves up with their strength, and
// a thin whistle.
Stereo wind(Synth& synth) {
    const Signal gust = synth.wander(0.25);
    Stereo stereo = stereoNoise(synth, 0.4);
    const Signal whistlePitch = synth.wander(0.2);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        Signal cutoff(synth.frames());
        Signal whistleCutoff(synth.frames());
        for (std::size_t i = 0; i < synth.frames(); ++i) {
            cutoff[i] = static_cast<float>(350 * std::exp(0.45 * gust[i]));
            whistleCutoff[i] = static_cast<float>(1400 * std::exp(0.25 * whistlePitch[i] + 0.2 * gust[i]));
        }
        Signal whistle = *channel;
        sweep(*channel, cutoff, 1.2, Band::band, synth.rate(), true);
        sweep(whistle, whistleCutoff, 25, Band::band, synth.rate(), true);
        add(*channel, whistle, 0.25);
        for (std::size_t i = 0; i < synth.frames(); ++i) {
            (*channel)[i] *= static_cast<float>(std::exp(0.55 * gust[i]));
        }
    }
    return stereo;
}

// Wind chimes: five metal tubes tuned to a pentatonic scale, each with the inharmonic partials of a
// free bar, struck in flurries when the breeze picks up.
Stereo chimes(Synth& synth) {
    Stereo stereo = bandNoise(synth, 300, 3000, 0.4, 0.01);
    const std::vector<double> notes = {880.0, 987.8, 1174.7, 1318.5, 1568.0};
    const std::vector<double> pans = {-0.6, -0.3, 0.0, 0.3, 0.6};
    for (const double flurry : synth.times(static_cast<std::size_t>(synth.seconds() / 4), 2.0)) {
        const int strikes = static_cast<int>(synth.rng().uniform(2, 7));
        for (int k = 0; k < strikes; ++k) {
            const auto tube = static_cast<std::size_t>(synth.rng().uniform(0, 5));
            const double f = notes[tube];
            const Signal ring =
                partials(synth, 5.0, {f, f * 2.756, f * 5.404}, {1.0, 0.4, 0.15}, {2.5, 1.2, 0.5}, 0.001);
            synth.place(stereo, ring, flurry + synth.rng().uniform(0, 1.5), synth.rng().uniform(0.05, 0.15),
                        pans[tube]);
        }
    }
    reverb(stereo, synth.rate(), 1.5, 0.2);
    return stereo;
}

// A singing bowl, struck three times a loop and left to ring: partials in the ratios of a real bowl,
// each split into a slowly beating pair, ringing on across the loop's end into its start.
Stereo bowl(Synth& synth) {
    Stereo stereo = bandNoise(synth, 100, 1000, 0.5, 0.0005);
    const double f = 196;
    const std::vector<double> ratios = {1.0, 2.71, 5.15, 8.16};
    const std::vector<double> amps = {1.0, 0.6, 0.3, 0.12};
    const std::vector<double> decays = {9.0, 6.0, 3.5, 2.0};
    const double gap = synth.seconds() / 3;
    for (int strike = 0; strike < 3; ++strike) {
        std::vector<double> freqs;
        std::vector<double> a;
        std::vector<double> d;
        for (std::size_t p = 0; p < ratios.size(); ++p) {
            const double split = 0.6 + 0.5 * static_cast<double>(p);
            freqs.push_back(f * ratios[p]);
            freqs.push_back(f * ratios[p] + split);
            a.push_back(amps[p]);
            a.push_back(amps[p] * 0.8);
            d.push_back(decays[p]);
            d.push_back(decays[p]);
        }
        const Signal ring = partials(synth, std::min(gap * 2.5, synth.seconds()), freqs, a, d, 0.003);
        const Signal strikeNoise = noiseBurst(synth, 0.05, 2500, 0.8, 0.0005, 0.006);
        synth.place(stereo, ring, gap * strike + synth.rng().uniform(0, 0.5), 0.3, 0.0);
        synth.place(stereo, strikeNoise, gap * strike, 0.2, 0.0);
    }
    reverb(stereo, synth.rate(), 3.0, 0.3);
    return stereo;
}

// A restaurant: a dozen tables talking at once (a murmur without words), cutlery and glasses, in a
// lively room.
Stereo restaurant(Synth& synth) {
    Stereo stereo = bandNoise(synth, 80, 2000, 0.7, 0.01);
    for (int talker = 0; talker < 14; ++talker) {
        const double pitch =
            synth.rng().chance(0.5) ? synth.rng().uniform(95, 140) : synth.rng().uniform(170, 240);
        const Signal voice = murmur(synth, synth.seconds(), pitch, 4.0);
        synth.place(stereo, voice, synth.rng().uniform(0, synth.seconds()), synth.rng().uniform(0.1, 0.3),
                    synth.rng().uniform(-0.9, 0.9));
    }
    for (const double t : synth.times(static_cast<std::size_t>(synth.seconds() * 0.8))) {
        const double f = synth.rng().uniform(2200, 4200);
        const Signal clink =
            partials(synth, 0.4, {f, f * 1.51, f * 2.63}, {1, 0.5, 0.3}, {0.1, 0.06, 0.04}, 0.0005);
        synth.place(stereo, clink, t, synth.rng().uniform(0.02, 0.08), synth.rng().uniform(-1, 1));
    }
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        synth.filter(*channel, Biquad::lowPass(synth.rate(), 5000));
    }
    reverb(stereo, synth.rate(), 1.1, 0.35);
    return stereo;
}

// Footsteps in snow: a slow walk, each step a short crunch of many tiny cracks with a squeak, left
// and right feet a little apart; the wind between steps.
Stereo footsteps(Synth& synth) {
    Stereo stereo = bandNoise(synth, 200, 3000, 0.5, 0.01);
    const double step = 1.0 / synth.loopFrequency(1.6);
    int foot = 0;
    for (double t = 0; t < synth.seconds() - 1e-9; t += step, ++foot) {
        const double length = synth.rng().uniform(0.18, 0.28);
        Signal crunch(synth.length(length), 0.0F);
        const int cracks = static_cast<int>(synth.rng().uniform(60, 120));
        for (int k = 0; k < cracks; ++k) {
            const double at = length * std::pow(synth.rng().uniform(), 0.7);
            const Signal crack =
                noiseBurst(synth, 0.006, synth.rng().uniform(1200, 4500), 1.5, 0.0001, 0.001);
            const double envelope = std::sin(std::numbers::pi * at / length);
            const auto start = static_cast<std::size_t>(at * synth.rate());
            for (std::size_t i = 0; i < crack.size() && start + i < crunch.size(); ++i) {
                crunch[start + i] += static_cast<float>(crack[i] * envelope * synth.rng().uniform(0.3, 1));
            }
        }
        const double pan = foot % 2 == 0 ? -0.15 : 0.15;
        synth.place(stereo, crunch, t + synth.rng().uniform(-0.02, 0.02), 0.5, pan);
        const Signal thud = noiseBurst(synth, 0.1, 120, 0.7, 0.005, 0.03);
        synth.place(stereo, thud, t, 0.8, pan);
    }
    return stereo;
}

// A pestle and mortar: circles of grinding (gritty scraping that swells and fades with each turn),
// and now and then a few pounding strokes, the stone bowl ringing a little.
Stereo pestle(Synth& synth) {
    Stereo stereo{synth.silence(), synth.silence()};
    Signal grit = synth.noise();
    synth.filter(grit, {Biquad::bandPass(synth.rate(), 1800, 0.8)});
    const Signal texture = synth.wander(40);
    const double circleHz = synth.loopFrequency(1.1);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double turn = std::pow(0.5 + 0.5 * synth.sine(circleHz, i), 2.0);
        grit[i] = static_cast<float>(grit[i] * turn * (0.5 + 0.5 * std::abs(texture[i])));
    }
    addPanned(stereo, grit, 0.0, 0.3);
    for (const double t : synth.times(4, 5.0)) {
        for (int k = 0; k < 4; ++k) {
            const Signal thud = noiseBurst(synth, 0.15, 200, 0.7, 0.002, 0.03);
            const Signal ring = partials(synth, 0.6, {1750, 4100}, {0.3, 0.15}, {0.12, 0.07}, 0.0005);
            synth.place(stereo, thud, t + 0.45 * k, 1.0, 0.0);
            synth.place(stereo, ring, t + 0.45 * k, 0.3, 0.0);
        }
    }
    reverb(stereo, synth.rate(), 0.5, 0.2);
    return stereo;
}

// A turning grindstone: the stone's rumble on its axle at every turn, the hiss of a blade on the grit
// rising and falling as it is pressed, and the creak of the frame.
Stereo grindstone(Synth& synth) {
    Stereo stereo = bandNoise(synth, 40, 300, 0.8, 0.3);
    const double turnHz = synth.loopFrequency(0.7);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double g = 1 + 0.4 * synth.sine(turnHz, i);
        stereo.left[i] *= static_cast<float>(g);
        stereo.right[i] *= static_cast<float>(g);
    }
    Signal blade = synth.noise();
    synth.filter(blade, {Biquad::highPass(synth.rate(), 1500), Biquad::peaking(synth.rate(), 4200, 4, 10)});
    const double strokeHz = synth.loopFrequency(0.35);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        blade[i] *= static_cast<float>(std::pow(std::max(0.0, synth.sine(strokeHz, i)), 1.5));
    }
    addPanned(stereo, blade, 0.2, 0.08);
    for (const double t : synth.times(6, 3.0)) {
        const double hz = synth.rng().uniform(70, 110);
        const Signal creak = glide(
            synth, 0.5, [hz](double u) { return hz * (1 + 0.2 * u); },
            [](double u) { return std::sin(std::numbers::pi * u); }, 15, 0.7);
        synth.place(stereo, creak, t, 0.02, -0.3);
    }
    return stereo;
}

// A pencil writing on paper: strokes of fine scratching with the grain of the paper, short pauses
// between letters, longer between words, a dot now and then.
Stereo writing(Synth& synth) {
    Stereo stereo = bandNoise(synth, 100, 2000, 0.8, 0.002);
    Signal strokes = synth.silence();
    const Signal grain = synth.wander(300);
    double t = 0;
    while (t < synth.seconds() - 0.5) {
        const double length = synth.rng().uniform(0.08, 0.35);
        const std::size_t n = synth.length(length);
        Signal stroke(n);
        Biquad band = Biquad::bandPass(synth.rate(), synth.rng().uniform(3000, 5000), 0.9);
        for (std::size_t i = 0; i < n; ++i) {
            const double u = static_cast<double>(i) / static_cast<double>(n);
            stroke[i] =
                static_cast<float>(band.process(synth.rng().gaussian()) * std::sin(std::numbers::pi * u));
        }
        synth.place(strokes, stroke, t, synth.rng().uniform(0.5, 1.0));
        t += length +
             (synth.rng().chance(0.2) ? synth.rng().uniform(0.4, 0.9) : synth.rng().uniform(0.03, 0.12));
        if (synth.rng().chance(0.05)) {
            const Signal dot = noiseBurst(synth, 0.02, 2000, 1, 0.0003, 0.003);
            synth.place(strokes, dot, t, 1.5);
            t += 0.2;
        }
    }
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        strokes[i] *= static_cast<float>(0.6 + 0.4 * std::abs(grain[i]));
    }
    addPanned(stereo, strokes, 0.1, 0.5);
    return stereo;
}

// Air traffic control heard on a scanner: bursts of radio talk that are only a murmur (no words),
// band-limited and overdriven, opened and closed by squelch clicks, over the cockpit's hum.
Stereo airTraffic(Synth& synth) {
    Stereo stereo = bandNoise(synth, 40, 400, 0.9, 0.02);
    Signal radio = synth.silence();
    for (const double t : synth.times(static_cast<std::size_t>(synth.seconds() / 5), 4.0)) {
        const double length = synth.rng().uniform(1.5, 3.5);
        const double pitch = synth.rng().uniform(100, 180);
        Signal voice = murmur(synth, length, pitch, length);
        const double voiceRms = std::max(1e-6, rms(voice));
        scale(voice, 0.3 / voiceRms);
        for (std::size_t i = 0; i < voice.size(); ++i) {
            voice[i] += static_cast<float>(0.05 * synth.rng().gaussian());
        }
        const Signal squelch = noiseBurst(synth, 0.08, 2500, 0.5, 0.0005, 0.03);
        synth.place(radio, squelch, t - 0.05, 0.8);
        synth.place(radio, voice, t);
        synth.place(radio, squelch, t + length, 0.8);
    }
    synth.filter(radio, {Biquad::highPass(synth.rate(), 300), Biquad::lowPass(synth.rate(), 3000)});
    saturate(radio, 2.5);
    synth.filter(radio, Biquad::peaking(synth.rate(), 1500, 1, 4));
    addPanned(stereo, radio, -0.1, 0.5);
    for (const double t : synth.times(3, 5.0)) {
        const Signal beep = partials(synth, 0.2, {1000}, {1.0}, {10.0}, 0.005);
        synth.place(stereo, beep, t, 0.03, 0.3);
    }
    return stereo;
}

} // namespace somnara::soundgen::recipes
