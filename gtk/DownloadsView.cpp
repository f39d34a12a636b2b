#include "DownloadsView.hpp"

#include <somnara/downloads/BucketConfiguration.hpp>

#include <gtkmm/box.h>

#include <cstdio>

namespace somnara::gtk {

namespace {

std::string stateText(const std::string& state, bool running) {
    if (running || state == "downloading") {
        return "Downloading";
    }
    return state == "downloaded" ? "Downloaded" : "Not downloaded";
}

std::string megabytes(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

template <class Value>
void read(const DaemonProxy::Properties& properties, const char* name, Value& value) {
    if (const auto found = properties.find(name); found != properties.end()) {
        value = found->second.get<Value>();
    }
}

} // namespace

DownloadsView::DownloadsView(DaemonProxy& daemon)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 12), daemon_(daemon), download_("Download"),
      remove_("Remove the copies") {
    set_name("downloads");
    set_margin(24);
    auto* heading = Gtk::make_managed<Gtk::Label>("Lossless downloads", Gtk::Align::START);
    heading->add_css_class("title-2");
    auto* explanation = Gtk::make_managed<Gtk::Label>(
        "The sounds play from lossless copies once they are downloaded, from the compressed ones until then.",
        Gtk::Align::START);
    explanation->set_wrap(true);
    stateLabel_.set_halign(Gtk::Align::START);
    stateLabel_.add_css_class("title-4");
    count_.set_halign(Gtk::Align::START);
    unavailable_.set_halign(Gtk::Align::START);
    unavailable_.set_wrap(true);
    unavailable_.set_selectable(true);
    // The daemon reads the bucket at its start: it is the one to restart.
    auto message = BucketConfiguration::noneConfiguredMessage();
    message[0] = 'N';
    unavailable_.set_text(message + "; then restart the daemon.");
    download_.set_name("download");
    download_.add_css_class("suggested-action");
    download_.signal_clicked().connect([this] {
        daemon_.call(app::bus::downloadsInterface, "Download", std::tuple{}, [](std::uint32_t) {});
    });
    remove_.set_name("remove-copies");
    remove_.add_css_class("destructive-action");
    remove_.signal_clicked().connect(
        [this] { daemon_.call(app::bus::downloadsInterface, "Clear", std::tuple{}); });
    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    buttons->append(download_);
    buttons->append(remove_);
    append(*heading);
    append(*explanation);
    append(stateLabel_);
    append(count_);
    append(bar_);
    append(unavailable_);
    append(*buttons);
    update();
}

void DownloadsView::show(const DaemonProxy::Properties& properties) {
    read(properties, "Available", available_);
    read(properties, "Running", running_);
    read(properties, "State", state_);
    read(properties, "Present", present_);
    read(properties, "Total", total_);
    read(properties, "BytesWritten", bytes_);
    update();
}

void DownloadsView::update() {
    stateLabel_.set_text(stateText(state_, running_));
    count_.set_text(std::to_string(present_) + " of " + std::to_string(total_) + " sounds are lossless" +
                    (bytes_ > 0 ? " (" + megabytes(bytes_) + " downloaded)" : ""));
    bar_.set_fraction(total_ > 0 ? static_cast<double>(present_) / total_ : 0.0);
    unavailable_.set_visible(!available_);
    download_.set_sensitive(available_ && !running_ && present_ < total_);
    remove_.set_sensitive(present_ > 0);
}

} // namespace somnara::gtk
