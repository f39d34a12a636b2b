#pragma once

#include <string>
#include <string_view>

namespace somnara::app {

/// Whether `text` is well-formed UTF-8: no stray or missing continuation bytes, overlong forms,
/// surrogates or code points past U+10FFFF.
bool isValidUtf8(std::string_view text);

/// `text` as it may be shown on a terminal: control characters (escape codes, newlines, tabs, C1
/// controls) and bytes that are not UTF-8 written as escapes ("\n", "\t", "\x1b", "\xff", "\u009b")
/// and a backslash doubled, so that a name can neither move the cursor nor pass for another.
std::string printable(std::string_view text);

/// Throws `std::invalid_argument` saying that `what` ("a mix's name") must be UTF-8 unless `text` is.
void requireUtf8(std::string_view text, std::string_view what);

} // namespace somnara::app
