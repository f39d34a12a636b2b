#include "CloudValueEnvelope.hpp"

#include <array>
#include <cstdint>
#include <type_traits>

namespace somnara::linux_cloud {

namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) noexcept {
    const auto position = alphabet.find(c);
    return position == std::string_view::npos ? -1 : static_cast<int>(position);
}

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

// Hand-written rather than OpenSSL's EVP_EncodeBlock: that one has no strict decoder (it accepts
// padding in the middle and reports lengths that include padding), and this is twenty lines.
std::string base64Encode(const CloudData& data) {
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) {
            text += alphabet[(group >> shift) & 0x3f];
        }
    }
    const auto rest = data.size() - i;
    if (rest > 0) {
        const std::uint32_t group = (data[i] << 16) | (rest == 2 ? data[i + 1] << 8 : 0);
        text += alphabet[(group >> 18) & 0x3f];
        text += alphabet[(group >> 12) & 0x3f];
        text += rest == 2 ? alphabet[(group >> 6) & 0x3f] : '=';
        text += '=';
    }
    return text;
}

std::optional<CloudData> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    CloudData data;
    data.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (padding == 1 && text[i + 2] == '=') {
            return std::nullopt;
        }
        std::uint32_t group = 0;
        for (int j = 0; j < 4; ++j) {
            const int value = j >= 4 - padding ? 0 : sextet(text[i + j]);
            if (value < 0) {
                return std::nullopt;
            }
            group = (group << 6) | static_cast<std::uint32_t>(value);
        }
        data.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            data.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            data.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return data;
}

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
