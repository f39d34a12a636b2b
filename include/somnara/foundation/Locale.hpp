#pragma once

#include <functional>
#include <string>
#include <vector>

namespace somnara {

/// The user's language preferences as the Linux environment states them.
class Locale {
public:
    /// Reads one environment variable; none when unset.
    using Environment = std::function<const char*(const char* name)>;

    Locale() = delete;

    /// The user's preferred languages, most preferred first, as language tags ("en-GB", "fr"): the
    /// entries of LANGUAGE (a colon-separated list), then the first of LC_ALL, LC_MESSAGES and LANG that
    /// is set. Empty when none is set.
    static std::vector<std::string> preferredLanguages(const Environment& environment = defaultEnvironment());
    /// True if the first preferred language begins with "en"; false if it does not or there is none.
    static bool isLanguageEnglish(const Environment& environment = defaultEnvironment());

    static Environment defaultEnvironment();
};

} // namespace somnara
