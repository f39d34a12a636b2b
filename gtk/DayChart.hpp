#pragma once

#include <gtkmm/drawingarea.h>

#include <set>

namespace somnara::gtk {

/// The last thirty days drawn with Cairo, today on the right: a full bar for each day with listening,
/// a low mark for each day without, in the style's colours.
///
/// GTK main thread only.
class DayChart : public Gtk::DrawingArea {
public:
    static constexpr int days = 30;

    DayChart();

    /// Days with listening, as how many days ago (0 is today).
    void show(std::set<long> playedDaysAgo);

private:
    void draw(const Cairo::RefPtr<Cairo::Context>& context, int width, int height);

    std::set<long> played_;
};

} // namespace somnara::gtk
