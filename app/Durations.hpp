#pragma once

#include <string>

namespace somnara::app {

/// Seconds from "90", "90s", "1.5m", "10m" or "1h"; refused as a validation error of `option`.
double parseDuration(const std::string& text, const std::string& option);

} // namespace somnara::app
