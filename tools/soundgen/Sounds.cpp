#include "Sounds.hpp"

#include "Recipes.hpp"

#include <array>

namespace somnara::soundgen {
namespace {

namespace r = recipes;

constexpr std::array<SoundRecipe, 50> catalogue{{
    {"brown", r::brown},
    {"jungle", r::jungle},
    {"waves", r::waves},
    {"rain", r::rain},
    {"thunder", r::thunder},
    {"fan", r::fan},
    {"womb", r::womb},
    {"car", r::car},
    {"fire", r::fire},
    {"frogs", r::frogs},
    {"plane", r::plane},
    {"river", r::river},
    {"waterfall", r::waterfall},
    {"chimes", r::chimes},
    {"hairdryer", r::hairDryer},
    {"ac", r::airConditioner},
    {"birds", r::birds},
    {"restaurant", r::restaurant},
    {"seismic", r::seismic},
    {"vacuum", r::vacuum},
    {"wind", r::wind},
    {"blizzard", r::blizzard},
    {"bowl", r::bowl},
    {"crickets", r::crickets},
    {"drip", r::drip},
    {"dryer", r::dryer},
    {"footsteps", r::footsteps},
    {"hail", r::hail},
    {"owl", r::owl},
    {"spaceship", r::spaceship},
    {"sprinkler", r::sprinkler},
    {"cat", r::cat},
    {"beach", r::beach},
    {"shower", r::shower},
    {"forest", r::forest},
    {"brown_og", r::brownModulating},
    {"white", r::white},
    {"pink", r::pink},
    {"blue", r::blue},
    {"violet", r::violet},
    {"grey", r::grey},
    {"bubbles", r::bubbles},
    {"dolphins", r::dolphins},
    {"whales", r::whales},
    {"pestle", r::pestle},
    {"balloon", r::balloon},
    {"grindstone", r::grindstone},
    {"writing", r::writing},
    {"airtraffic", r::airTraffic},
    {"train", r::train},
}};

std::uint64_t hashName(std::string_view name) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    }
    return hash;
}

} // namespace

std::span<const SoundRecipe> soundRecipes() {
    return catalogue;
}

const SoundRecipe* findRecipe(std::string_view fileName) {
    for (const auto& recipe : catalogue) {
        if (recipe.fileName == fileName) {
            return &recipe;
        }
    }
    return nullptr;
}

Stereo synthesise(const SoundRecipe& recipe, double rate, std::size_t frames, std::uint64_t seed) {
    Synth synth(rate, frames, seed ^ hashName(recipe.fileName));
    return recipe.make(synth);
}

} // namespace somnara::soundgen
