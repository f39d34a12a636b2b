#include <somnara/foundation/Locale.hpp>

#include <cstdlib>
#include <string_view>

namespace somnara {
namespace {

/// "en_GB.UTF-8@euro" → "en-GB".
std::string languageTag(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    // The C and POSIX locales are the untranslated ones: programs speak English in them, so the user
    // who runs one (as containers and minimal systems do) reads English.
    if (locale == "C" || locale == "POSIX") {
        return "en";
    }
    std::string tag(locale);
    for (auto& c : tag) {
        if (c == '_') {
            c = '-';
        }
    }
    return tag;
}

} // namespace

Locale::Environment Locale::defaultEnvironment() {
    return [](const char* name) -> const char* { return std::getenv(name); };
}

std::vector<std::string> Locale::preferredLanguages(const Environment& environment) {
    std::vector<std::string> languages;
    const auto nonEmpty = [&](const char* name) -> std::string_view {
        const char* value = environment(name);
        return value != nullptr ? std::string_view(value) : std::string_view();
    };
    auto list = nonEmpty("LANGUAGE");
    while (!list.empty()) {
        const auto colon = list.find(':');
        const auto entry = list.substr(0, colon);
        if (!entry.empty()) {
            languages.push_back(languageTag(entry));
        }
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const auto locale = nonEmpty(name);
        if (!locale.empty()) {
            languages.push_back(languageTag(locale));
            break;
        }
    }
    return languages;
}

bool Locale::isLanguageEnglish(const Environment& environment) {
    const auto languages = preferredLanguages(environment);
    return !languages.empty() && languages.front().starts_with("en");
}

} // namespace somnara
