#pragma once

#include <somnara/catalogue/SoundTrack.hpp>

#include <nlohmann/json.hpp>

#include <compare>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace somnara {

/// A named combination of sound tracks, each at its own volume, that the user saves and recalls.
///
/// Two mixes are equal when their names are (identifier and volumes are not compared), and ordered by
/// name: to the user a mix is its name. A set of saved mixes needs more than that, though: the same
/// name can come from two devices, or from a cloud copy, with different identifiers, and removing a
/// mix by name must remove every one of them. So the set of saved mixes (`Mix::Set`) tells records
/// apart by all three fields, with `Mix::RecordHash` and `Mix::SameRecord`, which agree with each other.
///
/// A plain value: any thread may use it.
class Mix {
public:
    using SoundsAndVolumeLevels = std::unordered_map<SoundTrack, float>;

    /// Hashes identifier, name and volumes; the volumes order-independently, and exactly as floats.
    struct RecordHash {
        std::size_t operator()(const Mix& mix) const noexcept;
    };
    /// The same identifier, name and volumes (each volume bit for bit).
    struct SameRecord {
        bool operator()(const Mix& a, const Mix& b) const noexcept;
    };
    /// The saved mixes: records kept apart unless identical in every field.
    using Set = std::unordered_set<Mix, RecordHash, SameRecord>;

    /// All three fields, stored unchanged.
    Mix(std::string identifier, std::string name, SoundsAndVolumeLevels soundsAndVolumeLevels);
    /// A new mix with a new random identifier and the default name: empty for no sound, the sound's
    /// name for one, "Later & Earlier" (reverse alphabetical) for two, "My Mix" (localised) for more.
    explicit Mix(SoundsAndVolumeLevels soundsAndVolumeLevels);

    /// A sample mix for previews, made once per process: Hot Air Balloon & Air Conditioner.
    static const Mix& stub();

    /// A copy with the same identifier and volumes and the name `name`.
    Mix with(std::string name) const;

    const std::string& identifier() const noexcept { return identifier_; }
    const std::string& name() const noexcept { return name_; }
    const SoundsAndVolumeLevels& soundsAndVolumeLevels() const noexcept { return soundsAndVolumeLevels_; }

    /// Whether the two have the same sounds at exactly the same volumes (names and identifiers aside).
    bool hasSameSoundsAndVolumeLevels(const Mix& other) const noexcept;

    friend bool operator==(const Mix& a, const Mix& b) noexcept { return a.name_ == b.name_; }
    friend std::strong_ordering operator<=>(const Mix& a, const Mix& b) noexcept {
        return a.name_ <=> b.name_;
    }

    /// The default name `Mix(soundsAndVolumeLevels)` gives.
    static std::string defaultName(const SoundsAndVolumeLevels& soundsAndVolumeLevels);

private:
    std::string identifier_;
    std::string name_;
    SoundsAndVolumeLevels soundsAndVolumeLevels_;
};

/// The stored form: {"identifier": …, "name": …, "soundsAndVolumeLevels": [raw, volume, raw, volume, …]}.
void to_json(nlohmann::json& json, const Mix& mix);

/// A new random identifier: a version 4 UUID in upper-case hexadecimal, 8-4-4-4-12.
std::string makeUuidString();

} // namespace somnara

/// Decoding needs all three keys with the right types and raw values in 0…49; anything else throws
/// `json::DecodingError`, which fails the decoding of the array around it. Other keys are ignored.
template <>
struct nlohmann::adl_serializer<somnara::Mix> {
    static void to_json(json& json, const somnara::Mix& mix) { somnara::to_json(json, mix); }
    static somnara::Mix from_json(const json& json);
};
