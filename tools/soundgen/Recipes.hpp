#pragma once

#include "Synth.hpp"

// The models of the individual sounds, grouped by kind in NoiseSounds.cpp, WaterSounds.cpp,
// AnimalSounds.cpp, MachineSounds.cpp and TextureSounds.cpp.
namespace somnara::soundgen::recipes {

Stereo white(Synth&);
Stereo pink(Synth&);
Stereo brown(Synth&);
Stereo blue(Synth&);
Stereo violet(Synth&);
Stereo grey(Synth&);
Stereo brownModulating(Synth&);

Stereo rain(Synth&);
Stereo waves(Synth&);
Stereo river(Synth&);
Stereo waterfall(Synth&);
Stereo shower(Synth&);
Stereo beach(Synth&);
Stereo drip(Synth&);
Stereo sprinkler(Synth&);
Stereo bubbles(Synth&);
Stereo hail(Synth&);
Stereo blizzard(Synth&);
Stereo thunder(Synth&);

Stereo birds(Synth&);
Stereo crickets(Synth&);
Stereo frogs(Synth&);
Stereo owl(Synth&);
Stereo whales(Synth&);
Stereo dolphins(Synth&);
Stereo cat(Synth&);
Stereo jungle(Synth&);
Stereo forest(Synth&);
Stereo womb(Synth&);

Stereo fan(Synth&);
Stereo car(Synth&);
Stereo plane(Synth&);
Stereo hairDryer(Synth&);
Stereo airConditioner(Synth&);
Stereo vacuum(Synth&);
Stereo dryer(Synth&);
Stereo spaceship(Synth&);
Stereo train(Synth&);
Stereo balloon(Synth&);
Stereo seismic(Synth&);

Stereo fire(Synth&);
Stereo wind(Synth&);
Stereo chimes(Synth&);
Stereo bowl(Synth&);
Stereo restaurant(Synth&);
Stereo footsteps(Synth&);
Stereo pestle(Synth&);
Stereo grindstone(Synth&);
Stereo writing(Synth&);
Stereo airTraffic(Synth&);

} // namespace somnara::soundgen::recipes
