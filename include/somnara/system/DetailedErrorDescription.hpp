#pragma once

#include <exception>
#include <string>
#include <system_error>

namespace somnara {

/// The multi-line text of an error used as the message of logged assertions: its dynamic type, domain
/// (the error category), code, user info and descriptions, one per line.
///
/// A `std::system_error` (and so a `std::filesystem::filesystem_error`) reports the error code it
/// carries; any other exception has its own type name as domain and code 0.
std::string detailedErrorDescription(const std::exception& error);
std::string detailedErrorDescription(const std::error_code& error);

} // namespace somnara
