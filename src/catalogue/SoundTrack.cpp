#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/foundation/Json.hpp>
#include <somnara/foundation/LocalizedString.hpp>

#include <utility>

namespace somnara {
namespace {

struct Columns {
    std::string_view identifier;
    std::string_view localizationKey;
    std::string_view englishName;
    std::string_view fileName;
    std::string_view imageResource;
};

// In raw-value order; each column exactly as the catalogue states it.
constexpr std::array<Columns, SoundTrack::count> columns = {{
    {"whiteNoise", "sound_track.name.white_noise", "Brown Noise", "brown", "brown"},
    {"jungle", "sound_track.name.jungle", "Jungle", "jungle", "jungle"},
    {"waves", "sound_track.name.waves", "Waves", "waves", "waves"},
    {"rain", "sound_track.name.rain", "Rain", "rain", "rain"},
    {"thunder", "sound_track.name.thunder", "Thunder", "thunder", "thunder"},
    {"fan", "sound_track.name.fan", "Fan", "fan", "fan"},
    {"womb", "sound_track.name.womb", "Womb", "womb", "womb"},
    {"car", "sound_track.name.car", "Highway Drive", "car", "car"},
    {"fire", "sound_track.name.fire", "Campfire", "fire", "fire"},
    {"frogs", "sound_track.name.frogs", "Frogs", "frogs", "frogs"},
    {"plane", "sound_track.name.plane", "Plane", "plane", "plane"},
    {"river", "sound_track.name.river", "River", "river", "river"},
    {"waterfall", "sound_track.name.waterfall", "Waterfall", "waterfall", "waterfall"},
    {"chimes", "sound_track.name.chimes", "Wind Chimes", "chimes", "chimes"},
    {"hairdryer", "sound_track.name.hair_dryer", "Hair Dryer", "hairdryer", "hairdryer"},
    {"airconditioner", "sound_track.name.airConditioner", "Air Conditioner", "ac", "ac"},
    {"birds", "sound_track.name.birds", "Birds", "birds", "birds"},
    {"restaurants", "sound_track.name.restaurants", "Restaurant", "restaurant", "restaurant"},
    {"seismic", "sound_track.name.seismic", "Seismic Waves", "seismic", "seismic"},
    {"vacuum", "sound_track.name.vacuum", "Vacuum Cleaner", "vacuum", "vacuum"},
    {"wind", "sound_track.name.wind", "Wind", "wind", "wind"},
    {"blizzard", "sound_track.name.blizzard", "Blizzard", "blizzard", "blizzard"},
    {"bowl", "sound_track.name.bowl", "Singing Bowl", "bowl", "bowl"},
    {"crickets", "sound_track.name.crickets", "Crickets", "crickets", "cricket"},
    {"drip", "sound_track.name.drip", "Dripping Tap", "drip", "drip"},
    {"dryer", "sound_track.name.dryer", "Clothes Dryer", "dryer", "dryer"},
    {"footsteps", "sound_track.name.footSteps", "Footsteps in Snow", "footsteps", "footsteps"},
    {"hail", "sound_track.name.hail", "Hail", "hail", "hail"},
    {"owl", "sound_track.name.owl", "Owl", "owl", "owl"},
    {"spaceship", "sound_track.name.spaceship", "Spaceship", "spaceship", "spaceship"},
    {"sprinkler", "sound_track.name.sprinkler", "Lawn Sprinkler", "sprinkler", "sprinkler"},
    {"cat", "sound_track.name.cat", "Cat Purring", "cat", "cat"},
    {"beach", "sound_track.name.beach", "Beach", "beach", "beach"},
    {"shower", "sound_track.name.shower", "Shower", "shower", "shower"},
    {"forest", "sound_track.name.forest", "Forest", "forest", "forest"},
    {"brown_og", "sound_track.name.brown_og", "Modulating Brown Noise", "brown_og", "brown_og"},
    {"white_real", "sound_track.name.white", "White Noise", "white", "white"},
    {"pink", "sound_track.name.pink", "Pink Noise", "pink", "pink"},
    {"blue", "sound_track.name.blue", "Blue Noise", "blue", "blue"},
    {"violet", "sound_track.name.violet", "Violet Noise", "violet", "violet"},
    {"grey", "sound_track.name.grey", "Gray Noise", "grey", "grey"},
    {"bubbles", "sound_track.name.bubbles", "Bubbles", "bubbles", "bubbles"},
    {"dolphins", "sound_track.name.dolphins", "Dolphins", "dolphins", "dolphin"},
    {"whales", "sound_track.name.whales", "Whales", "whales", "whale"},
    {"pestle", "sound_track.name.pestle", "Pestle and Mortar", "pestle", "pestle"},
    {"balloon", "sound_track.name.balloon", "Hot Air Balloon", "balloon", "balloon"},
    {"grindstone", "sound_track.name.grindstone", "Grinding Stone", "grindstone", "grindstone"},
    {"writing", "sound_track.name.writing", "Writing", "writing", "pencil"},
    {"airtraffic", "sound_track.name.airtraffic", "Air Traffic Control", "airtraffic", "airtraffic"},
    {"train", "sound_track.name.train", "Train", "train", "train"},
}};

const Columns& columnsOf(SoundTrack soundTrack) noexcept {
    return columns[static_cast<std::size_t>(soundTrack.rawValue())];
}

template <std::size_t... index>
constexpr std::array<SoundTrack, SoundTrack::count> makeAllCases(std::index_sequence<index...>) {
    return {SoundTrack(static_cast<SoundTrack::Case>(index))...};
}

constexpr auto allSoundTracks = makeAllCases(std::make_index_sequence<SoundTrack::count>());

} // namespace

std::optional<SoundTrack> SoundTrack::fromRawValue(std::int64_t rawValue) noexcept {
    if (rawValue < 0 || rawValue >= static_cast<std::int64_t>(count)) {
        return std::nullopt;
    }
    return SoundTrack(static_cast<Case>(rawValue));
}

std::optional<SoundTrack> SoundTrack::fromIdentifier(std::string_view identifier) noexcept {
    for (const auto soundTrack : allSoundTracks) {
        if (soundTrack.identifier() == identifier) {
            return soundTrack;
        }
    }
    return std::nullopt;
}

const std::array<SoundTrack, SoundTrack::count>& SoundTrack::allCases() noexcept {
    return allSoundTracks;
}

std::string_view SoundTrack::identifier() const noexcept {
    return columnsOf(*this).identifier;
}

std::string_view SoundTrack::localizationKey() const noexcept {
    return columnsOf(*this).localizationKey;
}

std::string_view SoundTrack::englishName() const noexcept {
    return columnsOf(*this).englishName;
}

std::string_view SoundTrack::fileName() const noexcept {
    return columnsOf(*this).fileName;
}

std::string_view SoundTrack::imageResource() const noexcept {
    return columnsOf(*this).imageResource;
}

const std::string& SoundTrack::name() const {
    // Looked up once per process: every comparison and sort reads the names, and a language change
    // while the process runs is not followed anyway.
    static const std::array<std::string, count> names = [] {
        std::array<std::string, count> result;
        for (std::size_t i = 0; i < count; ++i) {
            result[i] = formatLocalized(localizedString(columns[i].localizationKey, columns[i].englishName));
        }
        return result;
    }();
    return names[static_cast<std::size_t>(rawValue())];
}

std::strong_ordering operator<=>(SoundTrack a, SoundTrack b) {
    if (a.value_ == b.value_) {
        return std::strong_ordering::equal;
    }
    const auto byName = a.name().compare(b.name());
    if (byName != 0) {
        return byName < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    // Only an incomplete translation could give two sounds one name; keep the order total anyway.
    return a.rawValue() <=> b.rawValue();
}

void to_json(nlohmann::json& json, SoundTrack soundTrack) {
    json = soundTrack.rawValue();
}

} // namespace somnara

somnara::SoundTrack nlohmann::adl_serializer<somnara::SoundTrack>::from_json(const json& json) {
    const auto rawValue = somnara::json::toInteger(json, "sound track");
    const auto soundTrack = somnara::SoundTrack::fromRawValue(rawValue);
    if (!soundTrack) {
        throw somnara::json::DecodingError("sound track: no sound has the raw value " +
                                           std::to_string(rawValue));
    }
    return *soundTrack;
}
