#pragma once

#include <system_error>
#include <type_traits>

namespace somnara {

/// What the collection throws (as a `std::system_error` carrying this code) when a caller asks for
/// something the current selection cannot give.
enum class SoundTracksCollectionError { cannotMakeMixWithNoSoundTracksSelected = 1 };

/// The category of these errors; its name, "SomnaraKit.SoundTracksCollectionError", is the domain a
/// detailed error description shows.
const std::error_category& soundTracksCollectionErrorCategory() noexcept;

std::error_code make_error_code(SoundTracksCollectionError error) noexcept;

} // namespace somnara

template <>
struct std::is_error_code_enum<somnara::SoundTracksCollectionError> : std::true_type {};
