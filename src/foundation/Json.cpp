#include <somnara/foundation/Json.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace somnara::json {

double shortestDouble(float value) noexcept {
    if (!std::isfinite(value)) {
        return static_cast<double>(value);
    }
    // to_chars on a float gives the fewest digits that read back as the same float; reading those
    // digits as a double gives the double that nlohmann::json (which prints doubles shortest) writes
    // with the same digits.
    std::array<char, 64> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    double result = static_cast<double>(value);
    std::from_chars(text.data(), written.ptr, result);
    return result;
}

nlohmann::json fromFloat(float value) {
    return nlohmann::json(shortestDouble(value));
}

namespace {

void requireFinite(const nlohmann::json& value) {
    if (value.is_number_float()) {
        if (!std::isfinite(value.get<double>())) {
            throw EncodingError("a number is not finite, and JSON has no text for it");
        }
    } else if (value.is_structured()) {
        for (const auto& element : value) {
            requireFinite(element);
        }
    }
}

} // namespace

std::string dump(const nlohmann::json& value) {
    requireFinite(value);
    return value.dump();
}

nlohmann::json parse(std::string_view text) {
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& error) {
        throw DecodingError(std::string("not JSON: ") + error.what());
    }
}

namespace {

[[noreturn]] void typeMismatch(std::string_view what, std::string_view expected,
                               const nlohmann::json& value) {
    throw DecodingError(std::string(what) + ": expected " + std::string(expected) + ", found " +
                        value.type_name());
}

} // namespace

const nlohmann::json& member(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) {
        typeMismatch(key, "an object holding it", object);
    }
    const auto found = object.find(key);
    if (found == object.end()) {
        throw DecodingError(std::string(key) + ": missing");
    }
    return *found;
}

const nlohmann::json* optionalMember(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) {
        typeMismatch(key, "an object holding it", object);
    }
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

double toDouble(const nlohmann::json& value, std::string_view what) {
    if (!value.is_number()) {
        typeMismatch(what, "a number", value);
    }
    return value.get<double>();
}

float toFloat(const nlohmann::json& value, std::string_view what) {
    const double number = toDouble(value, what);
    if (std::isfinite(number) && std::abs(number) > static_cast<double>(std::numeric_limits<float>::max())) {
        throw DecodingError(std::string(what) + ": number does not fit a 32-bit float");
    }
    return static_cast<float>(number);
}

std::int64_t toInteger(const nlohmann::json& value, std::string_view what) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw DecodingError(std::string(what) + ": integer out of range");
        }
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_float()) {
        // JSON does not tell 3 from 3.0; a whole number written with a fraction part is still that integer.
        const double number = value.get<double>();
        if (std::trunc(number) == number && number >= -9.2233720368547758e18 &&
            number < 9.2233720368547758e18) {
            return static_cast<std::int64_t>(number);
        }
        throw DecodingError(std::string(what) + ": expected an integer, found " + value.dump());
    }
    typeMismatch(what, "an integer", value);
}

bool toBool(const nlohmann::json& value, std::string_view what) {
    if (!value.is_boolean()) {
        typeMismatch(what, "a boolean", value);
    }
    return value.get<bool>();
}

std::string toString(const nlohmann::json& value, std::string_view what) {
    if (!value.is_string()) {
        typeMismatch(what, "a string", value);
    }
    return value.get<std::string>();
}

Date toDate(const nlohmann::json& value, std::string_view what) {
    return Date{toDouble(value, what)};
}

} // namespace somnara::json
