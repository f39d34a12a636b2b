#pragma once

#include <somnara/foundation/Bundle.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace somnara {

/// One localisation table ("Localizable") in the language the user prefers: a flat JSON map from key
/// to text, stored as `<resources>/<table>/<language>.json`.
///
/// Immutable after loading; any thread may read it.
class LocalizationTable {
public:
    /// The table of the first preferred language that has one ("fr-CA" falls back to "fr"); the English
    /// table when none has; an empty table when even that is missing or unreadable.
    static LocalizationTable load(const Bundle& bundle, const std::vector<std::string>& preferredLanguages,
                                  std::string_view table = "Localizable");
    /// The library's table for the user's languages, loaded once per process.
    static const LocalizationTable& shared();

    /// The text of `key`, or none when the table lacks it.
    std::optional<std::string> string(std::string_view key) const;
    /// The language of the loaded table ("en", "fr-CA"); empty when no table was found.
    const std::string& language() const noexcept { return language_; }

private:
    std::unordered_map<std::string, std::string> strings_;
    std::string language_;
};

/// The localised text of `key` in the library's table, or `fallback` (the English text) when the user's
/// language has no translation for it.
std::string localizedString(std::string_view key, std::string_view fallback);

/// A localised format with no arguments: "%%" becomes "%".
std::string formatLocalized(std::string_view format);
/// A localised format with one integer argument: the first integer conversion ("%d", "%ld", "%lld",
/// "%i", "%u", "%1$d", ...) becomes `value`; "%%" becomes "%".
std::string formatLocalized(std::string_view format, std::int64_t value);

} // namespace somnara
