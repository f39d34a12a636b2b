#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace somnara {

/// Whether the desktop shows light or dark colours.
enum class Appearance { light, dark };

/// Draws the now-playing artwork: the library's icons on its named background colour, written as a PNG
/// file whose name derives from the picture, so that the same picture always has the same address.
///
/// Loop only.
class ImageRenderer {
public:
    struct IconPlacement {
        /// The icon's name among the library's resources.
        std::string icon;
        double x = 0;
        double y = 0;
    };

    virtual ~ImageRenderer() = default;

    /// The desktop's appearance now.
    virtual Appearance appearance() const = 0;
    /// The natural width of the icon, in points; 0 when there is no such icon.
    virtual double iconWidth(const std::string& icon) const = 0;
    /// Fills `width` × `height` with "NowPlayingBackground" for `appearance`, draws the icons at their
    /// natural size in order with "NowPlayingForeground", and returns the PNG's path. Throws
    /// `std::runtime_error` when it cannot be written.
    virtual std::filesystem::path render(double width, double height, Appearance appearance,
                                         const std::vector<IconPlacement>& icons) = 0;
};

} // namespace somnara
