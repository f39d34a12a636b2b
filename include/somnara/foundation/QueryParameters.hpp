#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace somnara {

/// The query parameters of a link ("somnara://play?sound=rain&volume=0.5"), percent-decoded.
///
/// Items are taken in order: a later value of a name replaces an earlier one, and an item without a
/// value ("?a=1&a") removes the name. None when the link is not a valid URI reference or has no query
/// items; an empty map when every item lacks a value.
std::optional<std::map<std::string, std::string>> queryParameters(std::string_view url);

} // namespace somnara
