#include "linux/files/UserDefaultsCoding.hpp"

#include "foundation/Base64.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace somnara::userdefaults {

using nlohmann::json;

namespace {

constexpr std::string_view dataTag = "$data";
constexpr std::string_view dateTag = "$date";
constexpr std::string_view doubleTag = "$double";
constexpr std::string_view dictionaryTag = "$dictionary";

/// Whether a dictionary, written as a plain JSON object, would read back as a tag.
bool looksLikeTag(const UserDefaultsValue::Dictionary& dictionary) {
    return dictionary.size() == 1 && dictionary.begin()->first.starts_with('$');
}

} // namespace

json encode(const UserDefaultsValue& value) {
    struct Encoder {
        json operator()(const UserDefaultsValue::Data& data) const {
            return json::object({{dataTag, base64Encode(data)}});
        }
        json operator()(Date date) const {
            return json::object({{dateTag, date.timeIntervalSinceReferenceDate}});
        }
        json operator()(std::int64_t integer) const { return json(integer); }
        json operator()(double number) const {
            if (std::isnan(number)) {
                return json::object({{doubleTag, "nan"}});
            }
            if (std::isinf(number)) {
                return json::object({{doubleTag, number > 0 ? "inf" : "-inf"}});
            }
            return json(number);
        }
        json operator()(const std::string& text) const { return json(text); }
        json operator()(bool flag) const { return json(flag); }
        json operator()(const UserDefaultsValue::Array& array) const {
            json result = json::array();
            for (const auto& element : array) {
                result.push_back(encode(element));
            }
            return result;
        }
        json operator()(const UserDefaultsValue::Dictionary& dictionary) const {
            json result = json::object();
            for (const auto& [key, element] : dictionary) {
                result[key] = encode(element);
            }
            if (looksLikeTag(dictionary)) {
                return json::object({{dictionaryTag, std::move(result)}});
            }
            return result;
        }
    };
    return std::visit(Encoder{}, value.storage());
}

namespace {

std::optional<UserDefaultsValue> decodeDictionary(const json& object) {
    UserDefaultsValue::Dictionary dictionary;
    for (const auto& [key, element] : object.items()) {
        auto value = decode(element);
        if (!value) {
            return std::nullopt;
        }
        dictionary.emplace(key, std::move(*value));
    }
    return UserDefaultsValue(std::move(dictionary));
}

std::optional<UserDefaultsValue> decodeTagged(const std::string& tag, const json& payload) {
    if (tag == dataTag) {
        if (!payload.is_string()) {
            return std::nullopt;
        }
        auto data = base64Decode(payload.get_ref<const std::string&>());
        return data ? std::optional<UserDefaultsValue>(std::move(*data)) : std::nullopt;
    }
    if (tag == dateTag) {
        if (!payload.is_number()) {
            return std::nullopt;
        }
        return UserDefaultsValue(Date{payload.get<double>()});
    }
    if (tag == doubleTag) {
        const auto text = payload.is_string() ? payload.get<std::string>() : std::string();
        if (text == "nan") {
            return UserDefaultsValue(std::numeric_limits<double>::quiet_NaN());
        }
        if (text == "inf" || text == "-inf") {
            const double infinity = std::numeric_limits<double>::infinity();
            return UserDefaultsValue(text == "inf" ? infinity : -infinity);
        }
        return std::nullopt;
    }
    if (tag == dictionaryTag) {
        return payload.is_object() ? decodeDictionary(payload) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<UserDefaultsValue> decode(const json& value) {
    switch (value.type()) {
    case json::value_t::boolean:
        return UserDefaultsValue(value.get<bool>());
    case json::value_t::number_integer:
        return UserDefaultsValue(value.get<std::int64_t>());
    case json::value_t::number_unsigned: {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return UserDefaultsValue(static_cast<std::int64_t>(number));
        }
        return UserDefaultsValue(static_cast<double>(number));
    }
    case json::value_t::number_float:
        return UserDefaultsValue(value.get<double>());
    case json::value_t::string:
        return UserDefaultsValue(value.get<std::string>());
    case json::value_t::array: {
        UserDefaultsValue::Array array;
        array.reserve(value.size());
        for (const auto& element : value) {
            auto decoded = decode(element);
            if (!decoded) {
                return std::nullopt;
            }
            array.push_back(std::move(*decoded));
        }
        return UserDefaultsValue(std::move(array));
    }
    case json::value_t::object:
        if (value.size() == 1 && value.begin().key().starts_with('$')) {
            return decodeTagged(value.begin().key(), value.begin().value());
        }
        return decodeDictionary(value);
    default:
        return std::nullopt;
    }
}

std::string encodeFile(const UserDefaultsValue::Dictionary& values) {
    json file = json::object();
    for (const auto& [key, value] : values) {
        file[key] = encode(value);
    }
    return file.dump();
}

UserDefaultsValue::Dictionary decodeFile(std::string_view text, std::vector<std::string>* undecodable) {
    json file;
    try {
        file = json::parse(text.begin(), text.end());
    } catch (const json::exception& error) {
        throw std::runtime_error(std::string("not JSON: ") + error.what());
    }
    if (!file.is_object()) {
        throw std::runtime_error(std::string("not a JSON object but ") + file.type_name());
    }
    UserDefaultsValue::Dictionary values;
    for (const auto& [key, encoded] : file.items()) {
        if (auto value = decode(encoded)) {
            values.emplace(key, std::move(*value));
        } else if (undecodable != nullptr && !encoded.is_null()) {
            undecodable->push_back(key);
        }
    }
    return values;
}

} // namespace somnara::userdefaults
