#pragma once

#include <somnara/catalogue/SoundTrack.hpp>

#include <string>

namespace somnara::app {

/// The sound named on the command line by its identifier or English name, ignoring case; an unknown
/// name is refused with the closest names suggested.
SoundTrack soundNamed(const std::string& text);

} // namespace somnara::app
