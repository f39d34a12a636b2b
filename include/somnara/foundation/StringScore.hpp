#pragma once

#include <optional>
#include <string_view>

namespace somnara {

/// How well the typed `word` matches `text`, from 0 (not at all) to about 1.15; 1 when they are equal.
///
/// The letters of the word are looked for in order in the text, ignoring case and diacritics, so "cafe"
/// finds "Café". Letters count as the user sees them: a flag emoji or an "e" with a combining accent is
/// one letter. Matches at the start of the search or of a word score more than matches inside a word.
/// Without `fuzziness` every letter of the word must be found; with it, each missing letter costs
/// 1 − fuzziness in the divisor. Both arguments are UTF-8 (invalid bytes count as U+FFFD).
double score(std::string_view text, std::string_view word, std::optional<double> fuzziness = std::nullopt);

} // namespace somnara
