#include <somnara/foundation/Locale.hpp>
#include <somnara/foundation/LocalizedString.hpp>

#include <nlohmann/json.hpp>

#include <cctype>
#include <fstream>

namespace somnara {
namespace {

std::optional<std::unordered_map<std::string, std::string>> readTable(const std::filesystem::path& path) {
    std::ifstream file(path);
    const auto parsed = nlohmann::json::parse(file, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return std::nullopt;
    }
    std::unordered_map<std::string, std::string> strings;
    for (const auto& [key, value] : parsed.items()) {
        if (value.is_string()) {
            strings.emplace(key, value.get<std::string>());
        }
    }
    return strings;
}

/// Replaces "%%" and, when `value` is given, the first integer conversion.
std::string format(std::string_view text, std::optional<std::int64_t> value) {
    std::string result;
    result.reserve(text.size() + 8);
    bool substituted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 >= text.size()) {
            result.push_back(text[i]);
            continue;
        }
        if (text[i + 1] == '%') {
            result.push_back('%');
            ++i;
            continue;
        }
        // Optional position ("1$"), then length modifiers, then the conversion.
        auto j = i + 1;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) != 0) {
            ++j;
        }
        if (j < text.size() && text[j] == '$') {
            ++j;
        } else {
            j = i + 1;
        }
        while (j < text.size() && (text[j] == 'l' || text[j] == 'h' || text[j] == 'q' || text[j] == 'z')) {
            ++j;
        }
        if (value && !substituted && j < text.size() &&
            (text[j] == 'd' || text[j] == 'i' || text[j] == 'u')) {
            result += std::to_string(*value);
            substituted = true;
            i = j;
            continue;
        }
        result.push_back(text[i]);
    }
    return result;
}

} // namespace

LocalizationTable LocalizationTable::load(const Bundle& bundle,
                                          const std::vector<std::string>& preferredLanguages,
                                          std::string_view table) {
    std::vector<std::string> candidates;
    for (const auto& language : preferredLanguages) {
        candidates.push_back(language);
        if (const auto dash = language.find('-'); dash != std::string::npos) {
            candidates.push_back(language.substr(0, dash));
        }
    }
    // English is the language the texts were written in: it stands in for languages we do not have.
    candidates.emplace_back("en");
    LocalizationTable result;
    for (const auto& language : candidates) {
        const auto path = bundle.url(language, "json", table);
        if (!path) {
            continue;
        }
        if (auto strings = readTable(*path)) {
            result.strings_ = std::move(*strings);
            result.language_ = language;
            break;
        }
    }
    return result;
}

const LocalizationTable& LocalizationTable::shared() {
    static const LocalizationTable table = load(Bundle::module(), Locale::preferredLanguages());
    return table;
}

std::optional<std::string> LocalizationTable::string(std::string_view key) const {
    const auto found = strings_.find(std::string(key));
    if (found == strings_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::string localizedString(std::string_view key, std::string_view fallback) {
    return LocalizationTable::shared().string(key).value_or(std::string(fallback));
}

std::string formatLocalized(std::string_view text) {
    return format(text, std::nullopt);
}

std::string formatLocalized(std::string_view text, std::int64_t value) {
    return format(text, value);
}

} // namespace somnara
