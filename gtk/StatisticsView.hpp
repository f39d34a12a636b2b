#pragma once

#include "DaemonProxy.hpp"
#include "DayChart.hpp"

#include <gtkmm/box.h>
#include <gtkmm/grid.h>
#include <gtkmm/label.h>

namespace somnara::gtk {

/// The listening statistics from the daemon: totals, sessions, streaks, the most played sound and
/// the last thirty days.
///
/// GTK main thread only.
class StatisticsView : public Gtk::Box {
public:
    explicit StatisticsView(DaemonProxy& daemon);

    /// Reads the daemon's statistics as of now.
    void load();

private:
    void show(const std::string& json);

    DaemonProxy& daemon_;
    Gtk::Grid figures_;
    DayChart chart_;
};

} // namespace somnara::gtk
