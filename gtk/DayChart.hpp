#pragma once

#include <gtkmm/drawingarea.h>

#include <vector>

namespace somnara::gtk {

/// The last days drawn with Cairo, today on the right: a bar as high as each day's listening against
/// the longest day, a low mark for a day without, in the style's foreground colour.
///
/// GTK main thread only.
class DayChart : public Gtk::DrawingArea {
public:
    DayChart();

    /// Seconds of listening per day, oldest first.
    void show(std::vector<double> seconds);

private:
    void draw(const Cairo::RefPtr<Cairo::Context>& context, int width, int height);

    std::vector<double> seconds_;
};

} // namespace somnara::gtk
