#include <somnara/catalogue/Mix.hpp>
#include <somnara/foundation/Json.hpp>
#include <somnara/foundation/LocalizedString.hpp>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <random>
#include <utility>
#include <vector>

namespace somnara {

namespace {

std::size_t mixHash(std::size_t seed, std::size_t value) noexcept {
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

} // namespace

Mix::Mix(std::string identifier, std::string name, SoundsAndVolumeLevels soundsAndVolumeLevels)
    : identifier_(std::move(identifier)), name_(std::move(name)),
      soundsAndVolumeLevels_(std::move(soundsAndVolumeLevels)) {}

Mix::Mix(SoundsAndVolumeLevels soundsAndVolumeLevels)
    : identifier_(makeUuidString()), name_(defaultName(soundsAndVolumeLevels)),
      soundsAndVolumeLevels_(std::move(soundsAndVolumeLevels)) {}

const Mix& Mix::stub() {
    static const Mix mix{
        SoundsAndVolumeLevels{{SoundTrack::airConditioner, 1.0F}, {SoundTrack::balloon, 1.0F}}};
    return mix;
}

Mix Mix::with(std::string name) const {
    return Mix{identifier_, std::move(name), soundsAndVolumeLevels_};
}

bool Mix::hasSameSoundsAndVolumeLevels(const Mix& other) const noexcept {
    if (soundsAndVolumeLevels_.size() != other.soundsAndVolumeLevels_.size()) {
        return false;
    }
    return std::all_of(soundsAndVolumeLevels_.begin(), soundsAndVolumeLevels_.end(), [&](const auto& entry) {
        const auto found = other.soundsAndVolumeLevels_.find(entry.first);
        // Exact comparison on purpose: a mix matches only at the volumes it was saved with.
        return found != other.soundsAndVolumeLevels_.end() && found->second == entry.second;
    });
}

std::string Mix::defaultName(const SoundsAndVolumeLevels& soundsAndVolumeLevels) {
    std::vector<std::pair<SoundTrack, float>> pairs(soundsAndVolumeLevels.begin(),
                                                    soundsAndVolumeLevels.end());
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto& a, const auto& b) { return a.first.name() > b.first.name(); });
    switch (pairs.size()) {
    case 0:
        return {};
    case 1:
        return pairs[0].first.name();
    case 2:
        return pairs[0].first.name() + " & " + pairs[1].first.name();
    default: {
        static const std::string many = formatLocalized(localizedString("mix_name.default_name", "My Mix"));
        return many;
    }
    }
}

std::size_t Mix::RecordHash::operator()(const Mix& mix) const noexcept {
    std::size_t volumes = 0;
    for (const auto& [soundTrack, volume] : mix.soundsAndVolumeLevels()) {
        // Summed, so that the order the map yields its entries in does not matter.
        volumes += mixHash(std::hash<SoundTrack>{}(soundTrack), std::bit_cast<std::uint32_t>(volume));
    }
    auto seed = std::hash<std::string>{}(mix.identifier());
    seed = mixHash(seed, std::hash<std::string>{}(mix.name()));
    return mixHash(seed, volumes);
}

bool Mix::SameRecord::operator()(const Mix& a, const Mix& b) const noexcept {
    return a.identifier() == b.identifier() && a.name() == b.name() && a.hasSameSoundsAndVolumeLevels(b);
}

void to_json(nlohmann::json& json, const Mix& mix) {
    std::vector<std::pair<SoundTrack, float>> pairs(mix.soundsAndVolumeLevels().begin(),
                                                    mix.soundsAndVolumeLevels().end());
    // Any order reads back the same; raw-value order keeps files stable from one write to the next.
    std::sort(pairs.begin(), pairs.end(),
              [](const auto& a, const auto& b) { return a.first.rawValue() < b.first.rawValue(); });
    auto levels = nlohmann::json::array();
    for (const auto& [soundTrack, volume] : pairs) {
        levels.push_back(soundTrack.rawValue());
        levels.push_back(json::fromFloat(volume));
    }
    json = nlohmann::json::object();
    json["identifier"] = mix.identifier();
    json["name"] = mix.name();
    json["soundsAndVolumeLevels"] = std::move(levels);
}

std::string makeUuidString() {
    thread_local std::mt19937_64 generator{[] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64{seed};
    }()};
    const auto high = generator();
    const auto low = generator();
    std::array<std::uint8_t, 16> bytes{};
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(high >> (56 - 8 * i));
        bytes[8 + i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 0xf];
    }
    return text;
}

} // namespace somnara

somnara::Mix nlohmann::adl_serializer<somnara::Mix>::from_json(const json& json) {
    using namespace somnara;
    auto identifier = somnara::json::toString(somnara::json::member(json, "identifier"), "identifier");
    auto name = somnara::json::toString(somnara::json::member(json, "name"), "name");
    const auto& levels = somnara::json::member(json, "soundsAndVolumeLevels");
    if (!levels.is_array() || levels.size() % 2 != 0) {
        throw somnara::json::DecodingError(
            "soundsAndVolumeLevels: expected an array of sound and volume pairs");
    }
    Mix::SoundsAndVolumeLevels soundsAndVolumeLevels;
    for (std::size_t i = 0; i < levels.size(); i += 2) {
        const auto soundTrack = levels[i].get<SoundTrack>();
        soundsAndVolumeLevels.insert_or_assign(
            soundTrack, somnara::json::toFloat(levels[i + 1], "soundsAndVolumeLevels"));
    }
    return Mix{std::move(identifier), std::move(name), std::move(soundsAndVolumeLevels)};
}
