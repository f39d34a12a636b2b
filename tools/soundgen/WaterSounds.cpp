#include "Recipes.hpp"

#include <algorithm>

namespace somnara::soundgen::recipes {
namespace {

// A curve made of one `shape(seconds since the event)` per event time, over `span` seconds each,
// added round the loop.
Signal eventCurve(Synth& synth, const std::vector<double>& times, double span,
                  const std::function<double(double)>& shape) {
    Signal curve = synth.silence();
    const std::size_t n = synth.length(span);
    Signal grain(n);
    for (const double start : times) {
        for (std::size_t i = 0; i < n; ++i) {
            grain[i] = static_cast<float>(shape(static_cast<double>(i) / synth.rate()));
        }
        synth.place(curve, grain, start);
    }
    return curve;
}

// A bubble resonating at its Minnaert frequency, rising as it reaches the surface: the "plink" of
// drops on water.
Signal bubble(Synth& synth, double hz, double seconds) {
    return glide(
        synth, seconds, [hz](double u) { return hz * (1 + 0.8 * u); },
        [](double u) { return std::min(1.0, u * 40) * std::exp(-6 * u); });
}

// Many tiny drops: band-limited clicks at random times with random loudness.
void scatterDrops(Synth& synth, Stereo& into, double perSecond, double low, double high, double decay,
                  double gain) {
    const auto count = static_cast<std::size_t>(perSecond * synth.seconds());
    for (std::size_t i = 0; i < count; ++i) {
        const double centre = synth.rng().uniform(low, high);
        const Signal drop = noiseBurst(synth, decay * 5, centre, 1.5, 0.0005, decay);
        const double loud = gain * std::pow(synth.rng().uniform(), 2.0);
        const double at = synth.rng().uniform(0, synth.seconds());
        const double pan = synth.rng().uniform(-0.9, 0.9);
        synth.place(into, drop, at, loud, pan);
    }
}

// A bed of noise: pink-ish, band-limited, with a slow wandering level.
Stereo bed(Synth& synth, double low, double high, double correlation, double wanderDepth, double wanderRate) {
    Stereo stereo = stereoNoise(synth, correlation);
    const double rate = synth.rate();
    synth.shape(stereo, [low, high](double hz) {
        const double tilt = std::pow(std::max(hz, 20.0) / 1000.0, -0.5);
        const double lowCut = hz < low ? std::pow(hz / low, 2.0) : 1.0;
        const double highCut = hz > high ? std::pow(high / hz, 2.0) : 1.0;
        return tilt * lowCut * highCut;
    });
    if (wanderDepth > 0) {
        const Signal level = synth.wander(wanderRate);
        for (std::size_t i = 0; i < synth.frames(); ++i) {
            const auto g = static_cast<float>(std::exp(wanderDepth * level[i]));
            stereo.left[i] *= g;
            stereo.right[i] *= g;
        }
    }
    (void)rate;
    return stereo;
}

} // namespace

// Rain: a hiss of distant drops, hundreds of near drops a second, and now and then a drop that falls
// into a puddle and rings.
Stereo rain(Synth& synth) {
    Stereo stereo = bed(synth, 400, 9000, 0.3, 0.15, 0.2);
    scale(stereo.left, 0.5);
    scale(stereo.right, 0.5);
    scatterDrops(synth, stereo, 350, 1500, 7000, 0.004, 2.0);
    for (const double t : synth.times(static_cast<std::size_t>(2.5 * synth.seconds()))) {
        const Signal plink = bubble(synth, synth.rng().uniform(900, 2600), 0.06);
        const double pan = synth.rng().uniform(-0.8, 0.8);
        const double gain = synth.rng().uniform(0.05, 0.25);
        synth.place(stereo, plink, t, gain, pan);
    }
    return stereo;
}

// Waves on a shore: each swell rises, breaks bright and loud, then washes back darker and fizzing.
Stereo waves(Synth& synth) {
    const auto times = synth.times(static_cast<std::size_t>(synth.seconds() / 7.5), 5.0);
    const auto swell = [](double t) {
        if (t < 2.5) {
            return 0.15 + 0.85 * std::pow(t / 2.5, 3.0);
        }
        return std::exp(-(t - 2.5) / 2.2);
    };
    const Signal level = eventCurve(synth, times, 11.0, swell);
    Signal cutoff(synth.frames());
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        cutoff[i] = static_cast<float>(250 + 3500 * std::min(1.0, static_cast<double>(level[i])));
    }
    Stereo stereo = stereoNoise(synth, 0.5);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        sweep(*channel, cutoff, 0.7, Band::low, synth.rate(), true);
        for (std::size_t i = 0; i < synth.frames(); ++i) {
            (*channel)[i] *= 0.12F + level[i];
        }
    }
    // The fizz of foam as the water draws back.
    const Signal fizzLevel = eventCurve(synth, times, 11.0, [](double t) {
        return t < 3 ? 0.0 : std::exp(-(t - 3) / 2.5) * std::min(1.0, (t - 3) * 2);
    });
    Stereo fizz = stereoNoise(synth, 0.1);
    synth.filter(fizz.left, Biquad::highPass(synth.rate(), 3000));
    synth.filter(fizz.right, Biquad::highPass(synth.rate(), 3000));
    multiply(fizz.left, fizzLevel);
    multiply(fizz.right, fizzLevel);
    add(stereo.left, fizz.left, 0.25);
    add(stereo.right, fizz.right, 0.25);
    return stereo;
}

// A river: a steady rush with a low body, and many small gurgles bubbling over stones.
Stereo river(Synth& synth) {
    Stereo stereo = bed(synth, 120, 5000, 0.4, 0.1, 0.3);
    for (const double t : synth.times(static_cast<std::size_t>(25 * synth.seconds()))) {
        const Signal gurgle = bubble(synth, synth.rng().uniform(250, 1100), synth.rng().uniform(0.03, 0.09));
        const double pan = synth.rng().uniform(-1, 1);
        const double gain = synth.rng().uniform(0.01, 0.06);
        synth.place(stereo, gurgle, t, gain, pan);
    }
    return stereo;
}

// A waterfall: a wide, dense roar with a deep rumble underneath and almost no movement.
Stereo waterfall(Synth& synth) {
    Stereo stereo = bed(synth, 60, 7000, 0.2, 0.05, 0.5);
    synth.filter(stereo.left, Biquad::peaking(synth.rate(), 700, 0.7, 5));
    synth.filter(stereo.right, Biquad::peaking(synth.rate(), 700, 0.7, 5));
    Signal rumble = synth.noise();
    synth.filter(rumble, {Biquad::lowPass(synth.rate(), 120), Biquad::highPass(synth.rate(), 25)});
    const double gain = 1.2 * rms(stereo.left) / rms(rumble);
    add(stereo.left, rumble, gain);
    add(stereo.right, rumble, gain);
    return stereo;
}

// A shower in a tiled room: bright spray, the patter of drops on the tray, the room's short echo.
Stereo shower(Synth& synth) {
    Stereo stereo = stereoNoise(synth, 0.5);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        synth.filter(*channel,
                     {Biquad::highPass(synth.rate(), 900), Biquad::peaking(synth.rate(), 4500, 1.0, 6),
                      Biquad::lowPass(synth.rate(), 11000)});
        scale(*channel, 0.3);
    }
    scatterDrops(synth, stereo, 220, 600, 3000, 0.006, 1.2);
    reverb(stereo, synth.rate(), 0.6, 0.3);
    return stereo;
}

// A calm beach: small waves lapping every few seconds, the hiss of sand and pebbles as each one draws
// back, and a distant surf.
Stereo beach(Synth& synth) {
    const auto times = synth.times(static_cast<std::size_t>(synth.seconds() / 5), 3.5);
    const Signal lap = eventCurve(synth, times, 6.0, [](double t) {
        return t < 0.8 ? std::pow(t / 0.8, 2.0) : std::exp(-(t - 0.8) / 1.0);
    });
    const Signal draw = eventCurve(synth, times, 6.0, [](double t) {
        return t < 1.2 ? 0.0 : std::min(1.0, (t - 1.2) * 3) * std::exp(-(t - 1.2) / 1.3);
    });
    Stereo stereo = bed(synth, 80, 1500, 0.6, 0.1, 0.1);
    scale(stereo.left, 0.5);
    scale(stereo.right, 0.5);
    Stereo wash = stereoNoise(synth, 0.4);
    Stereo pebbles{synth.silence(), synth.silence()};
    scatterDrops(synth, pebbles, 500, 2500, 8000, 0.0015, 1.0);
    for (Signal* channel : {&wash.left, &wash.right}) {
        synth.filter(*channel, {Biquad::bandPass(synth.rate(), 900, 0.6)});
        multiply(*channel, lap);
    }
    multiply(pebbles.left, draw);
    multiply(pebbles.right, draw);
    add(stereo.left, wash.left, 1.5);
    add(stereo.right, wash.right, 1.5);
    add(stereo.left, pebbles.left, 0.8);
    add(stereo.right, pebbles.right, 0.8);
    return stereo;
}

// A dripping tap into a half-full sink: a drop about every second, each a rising plink with a small
// splash, in a kitchen's short echo over near silence.
Stereo drip(Synth& synth) {
    Stereo stereo{synth.silence(), synth.silence()};
    const double period = 1.0 / synth.loopFrequency(1.0 / 1.05);
    for (double t = 0; t < synth.seconds() - 1e-9; t += period) {
        const double at = t + synth.rng().uniform(-0.04, 0.04);
        const double pitch = synth.rng().uniform(1100, 1500);
        Signal plink = glide(
            synth, 0.12, [pitch](double u) { return pitch * (1 + 1.2 * std::sqrt(u)); },
            [](double u) { return std::min(1.0, u * 60) * std::exp(-12 * u); }, 3, 2.0);
        const Signal splash = noiseBurst(synth, 0.03, 3500, 1.0, 0.0005, 0.004);
        synth.place(stereo.left, plink, at, 0.8);
        synth.place(stereo.right, plink, at, 0.7);
        synth.place(stereo.left, splash, at, 0.3);
        synth.place(stereo.right, splash, at, 0.3);
    }
    Stereo room = stereoNoise(synth, 0.8);
    synth.filter(room.left, Biquad::lowPass(synth.rate(), 300));
    synth.filter(room.right, Biquad::lowPass(synth.rate(), 300));
    add(stereo.left, room.left, 0.002);
    add(stereo.right, room.right, 0.002);
    reverb(stereo, synth.rate(), 0.9, 0.35);
    return stereo;
}

// An impact sprinkler: the arm ticks across the lawn, a burst of spray on every tick, then ratchets
// back quickly; the spray hisses throughout.
Stereo sprinkler(Synth& synth) {
    Stereo stereo = stereoNoise(synth, 0.3);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        synth.filter(*channel, {Biquad::highPass(synth.rate(), 2000), Biquad::lowPass(synth.rate(), 10000)});
        scale(*channel, 0.15);
    }
    const double cycle = 1.0 / synth.loopFrequency(0.1);
    for (double start = 0; start < synth.seconds() - 1e-9; start += cycle) {
        // The slow sweep: about seven ticks a second across the arc.
        const double sweepTime = cycle * 0.78;
        for (double t = 0; t < sweepTime; t += 1.0 / 7 * synth.rng().uniform(0.9, 1.1)) {
            const double pan = -0.9 + 1.8 * t / sweepTime;
            const Signal tick = noiseBurst(synth, 0.12, 2800, 0.8, 0.001, 0.03);
            synth.place(stereo, tick, start + t, 1.0, pan);
        }
        // The fast return.
        for (double t = sweepTime; t < cycle - 0.1; t += 1.0 / 22) {
            const double pan = 0.9 - 1.8 * (t - sweepTime) / (cycle - sweepTime);
            const Signal tick = noiseBurst(synth, 0.04, 4000, 1.2, 0.0005, 0.008);
            synth.place(stereo, tick, start + t, 0.5, pan);
        }
    }
    return stereo;
}

// Under water: bubbles rising from a stone, each a quick upward chirp, over the muffled hum of the
// pump.
Stereo bubbles(Synth& synth) {
    Stereo stereo = bed(synth, 40, 600, 0.7, 0.1, 0.3);
    scale(stereo.left, 0.2);
    scale(stereo.right, 0.2);
    for (const double t : synth.times(static_cast<std::size_t>(14 * synth.seconds()))) {
        const double size = synth.rng().uniform();
        const Signal b = bubble(synth, 250 + 1200 * size * size, 0.05 + 0.08 * (1 - size));
        const double pan = synth.rng().uniform(-0.5, 0.5);
        const double gain = synth.rng().uniform(0.1, 0.5);
        synth.place(stereo, b, t, gain, pan);
    }
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double hum = 0.01 * (synth.sine(100, i) + 0.5 * synth.sine(200, i, 0.3));
        stereo.left[i] += static_cast<float>(hum);
        stereo.right[i] += static_cast<float>(hum);
    }
    return stereo;
}

// Hail: hard ice pellets: dense sharp clicks, some striking metal and ringing, over rain.
Stereo hail(Synth& synth) {
    Stereo stereo = bed(synth, 500, 8000, 0.3, 0.2, 0.2);
    scale(stereo.left, 0.3);
    scale(stereo.right, 0.3);
    scatterDrops(synth, stereo, 180, 2500, 9000, 0.0015, 3.0);
    for (const double t : synth.times(static_cast<std::size_t>(3 * synth.seconds()))) {
        const double f = synth.rng().uniform(1800, 3200);
        const Signal ping =
            partials(synth, 0.4, {f, f * 2.32, f * 4.25}, {1.0, 0.5, 0.25}, {0.08, 0.05, 0.03}, 0.0005);
        const double pan = synth.rng().uniform(-1, 1);
        const double gain = synth.rng().uniform(0.05, 0.2);
        synth.place(stereo, ping, t, gain, pan);
    }
    return stereo;
}

// A blizzard: a gale that howls through gaps (moving narrow resonances), gusts, and the fine hiss of
// driven snow.
Stereo blizzard(Synth& synth) {
    const Signal gust = synth.wander(0.4);
    Stereo stereo = stereoNoise(synth, 0.3);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        Signal cutoff(synth.frames());
        for (std::size_t i = 0; i < synth.frames(); ++i) {
            cutoff[i] = static_cast<float>(600 * std::exp(0.5 * gust[i]));
        }
        Signal howl = *channel;
        sweep(howl, cutoff, 12, Band::band, synth.rate(), true);
        sweep(*channel, cutoff, 0.6, Band::low, synth.rate(), true);
        add(*channel, howl, 1.4);
        for (std::size_t i = 0; i < synth.frames(); ++i) {
            (*channel)[i] *= static_cast<float>(std::exp(0.6 * gust[i]));
        }
    }
    Stereo snow = stereoNoise(synth, 0.1);
    synth.filter(snow.left, Biquad::highPass(synth.rate(), 5000));
    synth.filter(snow.right, Biquad::highPass(synth.rate(), 5000));
    add(stereo.left, snow.left, 0.08);
    add(stereo.right, snow.right, 0.08);
    return stereo;
}

// A thunderstorm: steady rain and, a few times a loop, a crack of thunder that rolls away for many
// seconds in uneven rumbles.
Stereo thunder(Synth& synth) {
    Stereo stereo = rain(synth);
    scale(stereo.left, 0.35);
    scale(stereo.right, 0.35);
    for (const double t : synth.times(3, 7.0)) {
        const double length = synth.rng().uniform(7, 10);
        Signal roll = synth.silence();
        roll.resize(synth.length(length));
        for (auto& sample : roll) {
            sample = static_cast<float>(synth.rng().gaussian());
        }
        Biquad low = Biquad::lowPass(synth.rate(), 180);
        Biquad cut = Biquad::highPass(synth.rate(), 25);
        // Several rumbles of decaying strength make one roll.
        std::vector<double> peaks;
        for (int k = 0; k < 5; ++k) {
            peaks.push_back(synth.rng().uniform(0, length * 0.6));
        }
        for (std::size_t i = 0; i < roll.size(); ++i) {
            const double s = static_cast<double>(i) / synth.rate();
            double envelope = std::exp(-s / 0.08) * 0.6;
            for (const double p : peaks) {
                const double d = (s - p) / 0.7;
                envelope += std::exp(-d * d) * std::exp(-p / 3);
            }
            envelope *= std::min(1.0, (length - s) / 1.0);
            roll[i] = static_cast<float>(cut.process(low.process(roll[i])) * envelope);
        }
        const Signal crack = noiseBurst(synth, 0.5, 1500, 0.4, 0.002, 0.09);
        const double pan = synth.rng().uniform(-0.6, 0.6);
        synth.place(stereo, roll, t, 6, pan);
        synth.place(stereo, crack, t, 0.6, pan);
    }
    return stereo;
}

} // namespace somnara::soundgen::recipes
