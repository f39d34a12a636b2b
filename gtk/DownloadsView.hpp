#pragma once

#include "DaemonProxy.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/progressbar.h>

#include <cstdint>

namespace somnara::gtk {

/// The daemon's lossless downloads: their state, how many sounds have a copy, a bar following the
/// daemon's properties, and buttons to download the missing copies or remove them all. Without a
/// download bucket it says how to configure one.
///
/// GTK main thread only.
class DownloadsView : public Gtk::Box {
public:
    explicit DownloadsView(DaemonProxy& daemon);

    /// The properties of the downloads interface that changed.
    void show(const DaemonProxy::Properties& properties);

private:
    void update();

    DaemonProxy& daemon_;
    bool available_ = false;
    bool running_ = false;
    std::string state_ = "notSynced";
    std::uint32_t present_ = 0;
    std::uint32_t total_ = 0;
    std::int64_t bytes_ = 0;
    Gtk::Label stateLabel_;
    Gtk::Label count_;
    Gtk::ProgressBar bar_;
    Gtk::Label unavailable_;
    Gtk::Button download_;
    Gtk::Button remove_;
};

} // namespace somnara::gtk
