#pragma once

#include <somnara/runtime/Date.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace somnara::json {

/// A stored JSON form that does not match what the reader expects: a missing key, a value of the
/// wrong type, a number out of range. `what()` names the offending key.
struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// A value that JSON has no text for (a NaN or an infinity): encoding fails rather than writing null,
/// which would read back as a missing or mistyped value and lose the whole record.
struct EncodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The double whose shortest decimal form is the shortest decimal form of `value`, so that a 32-bit
/// float is written as 0.8 and not as 0.800000011920929. Reading that text back as a float gives
/// `value` again, bit for bit. Non-finite values are returned unchanged.
double shortestDouble(float value) noexcept;

/// `value` as a JSON number written in its shortest float form (see `shortestDouble`).
nlohmann::json fromFloat(float value);

/// Compact text, as the stored files use (no spaces, no new lines). Throws `EncodingError` when a
/// number in `value` is not finite.
std::string dump(const nlohmann::json& value);
/// Parses `text`; throws `DecodingError` when it is not JSON.
nlohmann::json parse(std::string_view text);

/// Strict readers of one member of a JSON object. Each throws `DecodingError` when `object` is not an
/// object, the key is absent, or the value has another type.
const nlohmann::json& member(const nlohmann::json& object, std::string_view key);
/// Any JSON number, as a float (integers are accepted, as a number field is a number however it is
/// written).
float toFloat(const nlohmann::json& value, std::string_view what);
double toDouble(const nlohmann::json& value, std::string_view what);
/// An integer; a number with a fraction or beyond the 64-bit range is rejected.
std::int64_t toInteger(const nlohmann::json& value, std::string_view what);
bool toBool(const nlohmann::json& value, std::string_view what);
std::string toString(const nlohmann::json& value, std::string_view what);
Date toDate(const nlohmann::json& value, std::string_view what);

inline float floatMember(const nlohmann::json& object, std::string_view key) {
    return toFloat(member(object, key), key);
}
inline double doubleMember(const nlohmann::json& object, std::string_view key) {
    return toDouble(member(object, key), key);
}
inline std::int64_t integerMember(const nlohmann::json& object, std::string_view key) {
    return toInteger(member(object, key), key);
}
inline bool boolMember(const nlohmann::json& object, std::string_view key) {
    return toBool(member(object, key), key);
}

/// The member under `key`, or null when the object has no such key or holds null under it (for
/// optional keys with defaults: a platform decoder reads an explicit null as an absent key).
const nlohmann::json* optionalMember(const nlohmann::json& object, std::string_view key);

} // namespace somnara::json
