#pragma once

#include <somnara/foundation/CaseIterable.hpp>

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace somnara {

/// One of the fifty sounds of the catalogue, and the value by which everything else names a sound.
///
/// Stored everywhere as its raw value, the case's position 0…49, so the numbering never changes. Each
/// column (identifier, localisation key, file name, image name) is used exactly as it stands: they differ
/// on purpose for some sounds ("airconditioner", file "ac"). Note that `whiteNoise` is the brown-noise
/// sound (kept for stored values) and `whiteNoiseReal` the white one.
///
/// Sound tracks are equal and ordered by their display names; hashed by raw value. A plain value: any
/// thread may use it; the display names are looked up once per process on first use.
class SoundTrack {
public:
    enum class Case : std::int64_t {
        whiteNoise = 0,
        jungle = 1,
        waves = 2,
        rain = 3,
        thunder = 4,
        fan = 5,
        womb = 6,
        car = 7,
        fire = 8,
        frogs = 9,
        plane = 10,
        river = 11,
        waterfall = 12,
        chimes = 13,
        hairDryer = 14,
        airConditioner = 15,
        birds = 16,
        restaurants = 17,
        seismic = 18,
        vacuum = 19,
        wind = 20,
        blizzard = 21,
        bowl = 22,
        crickets = 23,
        drip = 24,
        dryer = 25,
        footSteps = 26,
        hail = 27,
        owl = 28,
        spaceship = 29,
        sprinkler = 30,
        cat = 31,
        beach = 32,
        shower = 33,
        forest = 34,
        brownNoiseModulating = 35,
        whiteNoiseReal = 36,
        pinkNoise = 37,
        blueNoise = 38,
        violetNoise = 39,
        greyNoise = 40,
        bubbles = 41,
        dolphins = 42,
        whales = 43,
        pestle = 44,
        balloon = 45,
        grindstone = 46,
        writing = 47,
        airtraffic = 48,
        train = 49
    };
    // The cases as sound tracks, so that comparing two of them compares display names as it does for any
    // two sound tracks (comparing `Case` values would compare raw values).
    static const SoundTrack whiteNoise;
    static const SoundTrack jungle;
    static const SoundTrack waves;
    static const SoundTrack rain;
    static const SoundTrack thunder;
    static const SoundTrack fan;
    static const SoundTrack womb;
    static const SoundTrack car;
    static const SoundTrack fire;
    static const SoundTrack frogs;
    static const SoundTrack plane;
    static const SoundTrack river;
    static const SoundTrack waterfall;
    static const SoundTrack chimes;
    static const SoundTrack hairDryer;
    static const SoundTrack airConditioner;
    static const SoundTrack birds;
    static const SoundTrack restaurants;
    static const SoundTrack seismic;
    static const SoundTrack vacuum;
    static const SoundTrack wind;
    static const SoundTrack blizzard;
    static const SoundTrack bowl;
    static const SoundTrack crickets;
    static const SoundTrack drip;
    static const SoundTrack dryer;
    static const SoundTrack footSteps;
    static const SoundTrack hail;
    static const SoundTrack owl;
    static const SoundTrack spaceship;
    static const SoundTrack sprinkler;
    static const SoundTrack cat;
    static const SoundTrack beach;
    static const SoundTrack shower;
    static const SoundTrack forest;
    static const SoundTrack brownNoiseModulating;
    static const SoundTrack whiteNoiseReal;
    static const SoundTrack pinkNoise;
    static const SoundTrack blueNoise;
    static const SoundTrack violetNoise;
    static const SoundTrack greyNoise;
    static const SoundTrack bubbles;
    static const SoundTrack dolphins;
    static const SoundTrack whales;
    static const SoundTrack pestle;
    static const SoundTrack balloon;
    static const SoundTrack grindstone;
    static const SoundTrack writing;
    static const SoundTrack airtraffic;
    static const SoundTrack train;

    static constexpr std::size_t count = 50;

    constexpr explicit SoundTrack(Case value) noexcept : value_(value) {}

    /// None for any value outside 0…49.
    static std::optional<SoundTrack> fromRawValue(std::int64_t rawValue) noexcept;
    /// Exact, case-sensitive match against `identifier()`; none when nothing matches.
    static std::optional<SoundTrack> fromIdentifier(std::string_view identifier) noexcept;
    /// All fifty, in raw-value order.
    static const std::array<SoundTrack, count>& allCases() noexcept;

    constexpr Case value() const noexcept { return value_; }
    constexpr std::int64_t rawValue() const noexcept { return static_cast<std::int64_t>(value_); }
    /// The stable text identifier of analytics parameters and log lines.
    std::string_view identifier() const noexcept;
    /// The localised display name; the English one when the user's language has no translation.
    const std::string& name() const;
    /// The key of the display name in the "Localizable" table.
    std::string_view localizationKey() const noexcept;
    std::string_view englishName() const noexcept;
    /// The base name of the sound's audio file, without extension.
    std::string_view fileName() const noexcept;
    /// The name of the sound's picture among the resources.
    std::string_view imageResource() const noexcept;

    // The fifty names differ in every language we ship, so equal names means the same sound: comparing
    // raw values gives the same answer without reading the names.
    friend constexpr bool operator==(SoundTrack a, SoundTrack b) noexcept { return a.value_ == b.value_; }
    /// By display name, so that a sorted list is alphabetical.
    friend std::strong_ordering operator<=>(SoundTrack a, SoundTrack b);

private:
    Case value_;
};

static_assert(CaseIterable<SoundTrack>);

inline constexpr SoundTrack SoundTrack::whiteNoise{SoundTrack::Case::whiteNoise};
inline constexpr SoundTrack SoundTrack::jungle{SoundTrack::Case::jungle};
inline constexpr SoundTrack SoundTrack::waves{SoundTrack::Case::waves};
inline constexpr SoundTrack SoundTrack::rain{SoundTrack::Case::rain};
inline constexpr SoundTrack SoundTrack::thunder{SoundTrack::Case::thunder};
inline constexpr SoundTrack SoundTrack::fan{SoundTrack::Case::fan};
inline constexpr SoundTrack SoundTrack::womb{SoundTrack::Case::womb};
inline constexpr SoundTrack SoundTrack::car{SoundTrack::Case::car};
inline constexpr SoundTrack SoundTrack::fire{SoundTrack::Case::fire};
inline constexpr SoundTrack SoundTrack::frogs{SoundTrack::Case::frogs};
inline constexpr SoundTrack SoundTrack::plane{SoundTrack::Case::plane};
inline constexpr SoundTrack SoundTrack::river{SoundTrack::Case::river};
inline constexpr SoundTrack SoundTrack::waterfall{SoundTrack::Case::waterfall};
inline constexpr SoundTrack SoundTrack::chimes{SoundTrack::Case::chimes};
inline constexpr SoundTrack SoundTrack::hairDryer{SoundTrack::Case::hairDryer};
inline constexpr SoundTrack SoundTrack::airConditioner{SoundTrack::Case::airConditioner};
inline constexpr SoundTrack SoundTrack::birds{SoundTrack::Case::birds};
inline constexpr SoundTrack SoundTrack::restaurants{SoundTrack::Case::restaurants};
inline constexpr SoundTrack SoundTrack::seismic{SoundTrack::Case::seismic};
inline constexpr SoundTrack SoundTrack::vacuum{SoundTrack::Case::vacuum};
inline constexpr SoundTrack SoundTrack::wind{SoundTrack::Case::wind};
inline constexpr SoundTrack SoundTrack::blizzard{SoundTrack::Case::blizzard};
inline constexpr SoundTrack SoundTrack::bowl{SoundTrack::Case::bowl};
inline constexpr SoundTrack SoundTrack::crickets{SoundTrack::Case::crickets};
inline constexpr SoundTrack SoundTrack::drip{SoundTrack::Case::drip};
inline constexpr SoundTrack SoundTrack::dryer{SoundTrack::Case::dryer};
inline constexpr SoundTrack SoundTrack::footSteps{SoundTrack::Case::footSteps};
inline constexpr SoundTrack SoundTrack::hail{SoundTrack::Case::hail};
inline constexpr SoundTrack SoundTrack::owl{SoundTrack::Case::owl};
inline constexpr SoundTrack SoundTrack::spaceship{SoundTrack::Case::spaceship};
inline constexpr SoundTrack SoundTrack::sprinkler{SoundTrack::Case::sprinkler};
inline constexpr SoundTrack SoundTrack::cat{SoundTrack::Case::cat};
inline constexpr SoundTrack SoundTrack::beach{SoundTrack::Case::beach};
inline constexpr SoundTrack SoundTrack::shower{SoundTrack::Case::shower};
inline constexpr SoundTrack SoundTrack::forest{SoundTrack::Case::forest};
inline constexpr SoundTrack SoundTrack::brownNoiseModulating{SoundTrack::Case::brownNoiseModulating};
inline constexpr SoundTrack SoundTrack::whiteNoiseReal{SoundTrack::Case::whiteNoiseReal};
inline constexpr SoundTrack SoundTrack::pinkNoise{SoundTrack::Case::pinkNoise};
inline constexpr SoundTrack SoundTrack::blueNoise{SoundTrack::Case::blueNoise};
inline constexpr SoundTrack SoundTrack::violetNoise{SoundTrack::Case::violetNoise};
inline constexpr SoundTrack SoundTrack::greyNoise{SoundTrack::Case::greyNoise};
inline constexpr SoundTrack SoundTrack::bubbles{SoundTrack::Case::bubbles};
inline constexpr SoundTrack SoundTrack::dolphins{SoundTrack::Case::dolphins};
inline constexpr SoundTrack SoundTrack::whales{SoundTrack::Case::whales};
inline constexpr SoundTrack SoundTrack::pestle{SoundTrack::Case::pestle};
inline constexpr SoundTrack SoundTrack::balloon{SoundTrack::Case::balloon};
inline constexpr SoundTrack SoundTrack::grindstone{SoundTrack::Case::grindstone};
inline constexpr SoundTrack SoundTrack::writing{SoundTrack::Case::writing};
inline constexpr SoundTrack SoundTrack::airtraffic{SoundTrack::Case::airtraffic};
inline constexpr SoundTrack SoundTrack::train{SoundTrack::Case::train};

/// Encodes a sound track as its raw value.
void to_json(nlohmann::json& json, SoundTrack soundTrack);

} // namespace somnara

/// Decodes a raw value; a value that is not an integer in 0…49 throws `json::DecodingError`, which fails
/// the decoding of the record around it.
template <>
struct nlohmann::adl_serializer<somnara::SoundTrack> {
    static void to_json(json& json, somnara::SoundTrack soundTrack) { somnara::to_json(json, soundTrack); }
    static somnara::SoundTrack from_json(const json& json);
};

template <>
struct std::hash<somnara::SoundTrack> {
    std::size_t operator()(somnara::SoundTrack soundTrack) const noexcept {
        return std::hash<std::int64_t>{}(soundTrack.rawValue());
    }
};
