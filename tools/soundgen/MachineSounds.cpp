#include "Recipes.hpp"

#include <algorithm>

namespace somnara::soundgen::recipes {
namespace {

// A steady tone of harmonics of `hz` (whole cycles per loop) with amplitudes 1/k^rolloff, optionally
// wobbling in level at `wobbleHz` by `wobble`.
Signal hum(Synth& synth, double hz, int harmonics, double rolloff, double wobbleHz = 0, double wobble = 0) {
    Signal tone = synth.silence();
    std::vector<double> phases;
    for (int k = 1; k <= harmonics; ++k) {
        phases.push_back(synth.rng().uniform(0, 2 * std::numbers::pi));
    }
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        double value = 0;
        for (int k = 1; k <= harmonics; ++k) {
            if (hz * k < synth.rate() * 0.45) {
                value +=
                    synth.sine(hz * k, i, phases[static_cast<std::size_t>(k - 1)]) / std::pow(k, rolloff);
            }
        }
        const double level = wobble > 0 ? 1 + wobble * synth.sine(wobbleHz, i) : 1.0;
        tone[i] = static_cast<float>(value * level);
    }
    return tone;
}

// Air moving through a machine: noise shaped by a low-pass and a resonant peak.
Stereo airflow(Synth& synth, double lowCut, double highCut, double peakHz, double peakDb,
               double correlation) {
    Stereo stereo = stereoNoise(synth, correlation);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        synth.filter(*channel,
                     {Biquad::highPass(synth.rate(), lowCut), Biquad::lowPass(synth.rate(), highCut),
                      Biquad::peaking(synth.rate(), peakHz, 1.2, peakDb)});
    }
    return stereo;
}

void addBoth(Stereo& stereo, const Signal& mono, double gain) {
    add(stereo.left, mono, gain);
    add(stereo.right, mono, gain);
}

} // namespace

// A box fan: soft air with a pulse at the blade rate (three blades at 19 turns a second), a faint
// motor hum, and the tick of the guard.
Stereo fan(Synth& synth) {
    Stereo stereo = airflow(synth, 60, 3500, 400, 4, 0.6);
    const double bladeHz = synth.loopFrequency(57);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double pulse = 1 + 0.18 * synth.sine(bladeHz, i) + 0.06 * synth.sine(bladeHz * 2, i, 1.0);
        stereo.left[i] *= static_cast<float>(pulse);
        stereo.right[i] *= static_cast<float>(pulse);
    }
    const double level = rms(stereo.left);
    addBoth(stereo, hum(synth, 100, 4, 1.5), 0.04 * level);
    return stereo;
}

// Inside a car on the highway: road rumble, the engine's steady drone, tyre roar, and now and then a
// car passing in the next lane.
Stereo car(Synth& synth) {
    Stereo stereo = airflow(synth, 25, 250, 80, 6, 0.7);
    const double level = rms(stereo.left);
    Stereo tyres = airflow(synth, 300, 2000, 800, 3, 0.5);
    add(stereo.left, tyres.left, 0.25);
    add(stereo.right, tyres.right, 0.25);
    addBoth(stereo, hum(synth, 88, 6, 1.2, 0.2, 0.05), 0.15 * level);
    for (const double t : synth.times(3, 7.0)) {
        const double length = 3.5;
        Signal pass = noiseBurst(synth, length, 700, 0.5, length / 2, 0.6);
        const double side = synth.rng().chance(0.5) ? -1 : 1;
        for (std::size_t k = 0; k < 24; ++k) {
            // The passing car moves from behind to ahead: pan follows it in short segments.
            const std::size_t from = pass.size() * k / 24;
            const std::size_t to = pass.size() * (k + 1) / 24;
            const Signal piece(pass.begin() + static_cast<std::ptrdiff_t>(from),
                               pass.begin() + static_cast<std::ptrdiff_t>(to));
            const double pan = side * (0.9 - 0.6 * static_cast<double>(k) / 24);
            synth.place(stereo, piece, t + static_cast<double>(from) / synth.rate(), 1.5 * level, pan);
        }
    }
    return stereo;
}

// An airliner's cabin in cruise: a deep, even roar, the whine of the engines far off, a low hum.
Stereo plane(Synth& synth) {
    Stereo stereo = airflow(synth, 30, 1200, 300, 5, 0.8);
    const double level = rms(stereo.left);
    addBoth(stereo, hum(synth, 112, 3, 1.0), 0.08 * level);
    Signal whine = hum(synth, 2650, 1, 1.0, 0.05, 0.3);
    addBoth(stereo, whine, 0.02 * level);
    return stereo;
}

// A hair dryer: a fast small motor (a buzzing whine) and a hard jet of air with a flutter.
Stereo hairDryer(Synth& synth) {
    Stereo stereo = airflow(synth, 500, 9000, 2500, 6, 0.7);
    const double level = rms(stereo.left);
    const double flutterHz = synth.loopFrequency(23);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double flutter = 1 + 0.08 * synth.sine(flutterHz, i);
        stereo.left[i] *= static_cast<float>(flutter);
        stereo.right[i] *= static_cast<float>(flutter);
    }
    addBoth(stereo, hum(synth, 310, 12, 0.9), 0.12 * level);
    return stereo;
}

// An air conditioner: the compressor's mains hum with harmonics, the fan's air, a faint rattle.
Stereo airConditioner(Synth& synth) {
    Stereo stereo = airflow(synth, 80, 2500, 250, 3, 0.6);
    const double level = rms(stereo.left);
    addBoth(stereo, hum(synth, 50, 8, 1.0, 0.3, 0.05), 0.2 * level);
    Signal rattle = synth.noise();
    synth.filter(rattle, Biquad::bandPass(synth.rate(), 1800, 3));
    const double buzzHz = synth.loopFrequency(100);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        rattle[i] *= static_cast<float>(std::pow(std::max(0.0, synth.sine(buzzHz, i)), 8));
    }
    addBoth(stereo, rattle, 0.3 * level);
    return stereo;
}

// A vacuum cleaner: a high motor whine and whistle over a roar of suction that changes as the nozzle
// moves over the floor.
Stereo vacuum(Synth& synth) {
    Stereo stereo = airflow(synth, 200, 8000, 1200, 6, 0.8);
    const Signal nozzle = synth.wander(0.5);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double g = std::exp(0.2 * nozzle[i]);
        stereo.left[i] *= static_cast<float>(g);
        stereo.right[i] *= static_cast<float>(g);
    }
    const double level = rms(stereo.left);
    addBoth(stereo, hum(synth, 540, 8, 1.0), 0.15 * level);
    addBoth(stereo, hum(synth, 5200, 1, 1.0, 0.1, 0.4), 0.03 * level);
    return stereo;
}

// A clothes dryer: the drum turns about once a second and the clothes fall with soft thumps; a zip
// clinks on the drum now and then; motor hum and warm air.
Stereo dryer(Synth& synth) {
    Stereo stereo = airflow(synth, 40, 1500, 150, 4, 0.8);
    const double level = rms(stereo.left);
    addBoth(stereo, hum(synth, 100, 4, 1.5), 0.05 * level);
    const double turn = 1.0 / synth.loopFrequency(0.85);
    for (double t = 0; t < synth.seconds() - 1e-9; t += turn) {
        const int falls = static_cast<int>(synth.rng().uniform(1, 3));
        for (int k = 0; k < falls; ++k) {
            Signal thump = noiseBurst(synth, 0.25, 110, 0.8, 0.01, 0.05);
            synth.place(stereo, thump, t + synth.rng().uniform(0, turn * 0.7), 6 * level,
                        synth.rng().uniform(-0.3, 0.3));
        }
        if (synth.rng().chance(0.25)) {
            const Signal clink =
                partials(synth, 0.3, {2300, 3900, 6100}, {1.0, 0.6, 0.3}, {0.05, 0.04, 0.03}, 0.0005);
            synth.place(stereo, clink, t + synth.rng().uniform(0, turn), 0.5 * level, 0);
        }
    }
    return stereo;
}

// A starship's engine room: deep detuned drones beating slowly, a resonance that sweeps through the
// hull, and an electrical hum.
Stereo spaceship(Synth& synth) {
    Stereo stereo{synth.silence(), synth.silence()};
    addPanned(stereo, hum(synth, 41, 5, 1.2), -0.4, 0.4);
    addPanned(stereo, hum(synth, 41.4, 5, 1.2), 0.4, 0.4);
    addPanned(stereo, hum(synth, 61.8, 3, 1.5, 0.1, 0.3), 0, 0.2);
    Stereo air = stereoNoise(synth, 0.5);
    Signal sweepCurve(synth.frames());
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        sweepCurve[i] = static_cast<float>(400 * std::exp(1.2 * synth.sine(1.0 / 15, i)));
    }
    sweep(air.left, sweepCurve, 8, Band::band, synth.rate(), true);
    sweep(air.right, sweepCurve, 8, Band::band, synth.rate(), true);
    add(stereo.left, air.left, 0.08);
    add(stereo.right, air.right, 0.08);
    addPanned(stereo, hum(synth, 120, 10, 1.0), 0, 0.03);
    return stereo;
}

// A train at speed: the double clack of each bogie over every rail joint, a deep rumble, the wind on
// the windows and the sway of the carriage.
Stereo train(Synth& synth) {
    Stereo stereo = airflow(synth, 25, 600, 90, 6, 0.7);
    const double level = rms(stereo.left);
    Stereo wind = airflow(synth, 800, 6000, 2000, 2, 0.2);
    add(stereo.left, wind.left, 0.1);
    add(stereo.right, wind.right, 0.1);
    const double joint = 1.0 / synth.loopFrequency(0.9);
    for (double t = 0; t < synth.seconds() - 1e-9; t += joint) {
        for (const double offset : {0.0, 0.11, 0.62, 0.73}) {
            Signal clack = noiseBurst(synth, 0.12, 350, 0.9, 0.002, 0.025);
            const Signal ring = partials(synth, 0.12, {1250, 2100}, {0.2, 0.1}, {0.03, 0.02}, 0.001);
            add(clack, ring, 0.5);
            synth.place(stereo, clack, t + offset, 4 * level * synth.rng().uniform(0.8, 1.0),
                        offset < 0.5 ? -0.2 : 0.2);
        }
    }
    const Signal sway = synth.wander(0.3);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        stereo.left[i] *= static_cast<float>(1 + 0.1 * sway[i]);
        stereo.right[i] *= static_cast<float>(1 - 0.1 * sway[i]);
    }
    return stereo;
}

// A hot-air balloon: quiet wind at altitude, broken every few seconds by the roar of the burner,
// which catches with a pop and crackles as it burns.
Stereo balloon(Synth& synth) {
    Stereo stereo = airflow(synth, 50, 800, 200, 2, 0.5);
    scale(stereo.left, 0.15);
    scale(stereo.right, 0.15);
    for (const double t : synth.times(4, 4.0)) {
        const double length = synth.rng().uniform(2.5, 4.0);
        const std::size_t n = synth.length(length);
        Signal roar(n);
        Biquad low = Biquad::lowPass(synth.rate(), 900, 0.9);
        Biquad body = Biquad::peaking(synth.rate(), 180, 1, 8);
        for (std::size_t i = 0; i < n; ++i) {
            const double s = static_cast<double>(i) / synth.rate();
            const double envelope = std::min(1.0, s / 0.15) * std::min(1.0, (length - s) / 0.4);
            roar[i] = static_cast<float>(body.process(low.process(synth.rng().gaussian())) * envelope);
        }
        const Signal pop = noiseBurst(synth, 0.1, 800, 0.7, 0.001, 0.02);
        synth.place(stereo, roar, t, 1.0, 0.1);
        synth.place(stereo, pop, t, 2.0, 0.1);
        for (int k = 0; k < 30; ++k) {
            const Signal crackle = noiseBurst(synth, 0.01, 3000, 1, 0.0002, 0.002);
            synth.place(stereo, crackle, t + synth.rng().uniform(0.1, length), 0.6,
                        synth.rng().uniform(-0.3, 0.5));
        }
    }
    return stereo;
}

// Seismic waves: a rumble from deep below that surges and fades, with booms and the grinding of rock.
Stereo seismic(Synth& synth) {
    Stereo stereo = airflow(synth, 20, 90, 40, 4, 0.8);
    const Signal surge = synth.wander(0.2);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double g = std::exp(0.6 * surge[i]);
        stereo.left[i] *= static_cast<float>(g);
        stereo.right[i] *= static_cast<float>(g);
    }
    const double level = rms(stereo.left);
    for (const double t : synth.times(4, 5.0)) {
        const double hz = synth.rng().uniform(28, 45);
        const Signal boom = partials(synth, 3.0, {hz, hz * 1.6}, {1.0, 0.4}, {0.8, 0.5}, 0.05);
        synth.place(stereo, boom, t, 2 * level, synth.rng().uniform(-0.5, 0.5));
        for (int k = 0; k < 40; ++k) {
            const Signal grind = noiseBurst(synth, 0.06, 300, 1.0, 0.002, 0.015);
            synth.place(stereo, grind, t + synth.rng().uniform(0, 2.5), 1.5 * level,
                        synth.rng().uniform(-0.8, 0.8));
        }
    }
    return stereo;
}

} // namespace somnara::soundgen::recipes
