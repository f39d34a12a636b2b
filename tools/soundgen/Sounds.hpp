#pragma once

#include "Synth.hpp"

#include <cstdint>
#include <span>
#include <string_view>

namespace somnara::soundgen {

/// One sound of the catalogue: the base name of its files and the model that makes it.
struct SoundRecipe {
    std::string_view fileName;
    Stereo (*make)(Synth&);
};

/// The fifty sounds, in catalogue order.
std::span<const SoundRecipe> soundRecipes();
/// The recipe with this file name, or nullptr.
const SoundRecipe* findRecipe(std::string_view fileName);
/// Makes one loop, unnormalised: `frames` frames at `rate`, deterministic in (`seed`, file name).
Stereo synthesise(const SoundRecipe& recipe, double rate, std::size_t frames, std::uint64_t seed);

} // namespace somnara::soundgen
