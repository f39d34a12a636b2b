#include "CloudValueEnvelope.hpp"

#include "foundation/Base64.hpp"

#include <cstdint>
#include <type_traits>

namespace somnara::linux_cloud {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

std::string CloudValueEnvelope::encode() const {
    nlohmann::json object = nlohmann::json::object();
    object["key"] = key;
    std::visit(Overloaded{
                   [&](const CloudData& data) {
                       object["type"] = "data";
                       object["value"] = base64Encode(data);
                   },
                   [&](const std::string& text) {
                       object["type"] = "string";
                       object["value"] = text;
                   },
                   [&](std::int64_t number) {
                       object["type"] = "integer";
                       object["value"] = number;
                   },
                   [&](double number) {
                       object["type"] = "real";
                       object["value"] = number;
                   },
                   [&](bool flag) {
                       object["type"] = "bool";
                       object["value"] = flag;
                   },
                   [&](Date date) {
                       object["type"] = "date";
                       object["value"] = date.timeIntervalSinceReferenceDate;
                   },
                   [&](const nlohmann::json& json) {
                       object["type"] = "json";
                       object["value"] = json;
                   },
               },
               value);
    return object.dump();
}

std::optional<CloudValueEnvelope> CloudValueEnvelope::decode(std::string_view text) {
    const auto object = nlohmann::json::parse(text, nullptr, false);
    if (!object.is_object() || !object.contains("key") || !object.contains("type") ||
        !object.contains("value")) {
        return std::nullopt;
    }
    const auto& key = object["key"];
    const auto& type = object["type"];
    const auto& value = object["value"];
    if (!key.is_string() || !type.is_string()) {
        return std::nullopt;
    }
    CloudValueEnvelope envelope{key.get<std::string>(), CloudValue{}};
    const auto typeName = type.get<std::string>();
    if (typeName == "data" && value.is_string()) {
        auto data = base64Decode(value.get<std::string>());
        if (!data) {
            return std::nullopt;
        }
        envelope.value = std::move(*data);
    } else if (typeName == "string" && value.is_string()) {
        envelope.value = value.get<std::string>();
    } else if (typeName == "integer" && value.is_number_integer()) {
        envelope.value = value.get<std::int64_t>();
    } else if (typeName == "real" && value.is_number()) {
        envelope.value = value.get<double>();
    } else if (typeName == "bool" && value.is_boolean()) {
        envelope.value = value.get<bool>();
    } else if (typeName == "date" && value.is_number()) {
        envelope.value = Date{value.get<double>()};
    } else if (typeName == "json" && (value.is_array() || value.is_object())) {
        envelope.value = value;
    } else {
        return std::nullopt;
    }
    return envelope;
}

} // namespace somnara::linux_cloud
