#pragma once

#include <exception>
#include <string>

namespace somnara::library {

/// The text of an error as a developer reads it in a logged assertion: its type and its message, as in
/// `somnara::json::DecodingError("sound track: no sound has the raw value 99")`.
std::string reflectedDescription(const std::exception& error);

} // namespace somnara::library
