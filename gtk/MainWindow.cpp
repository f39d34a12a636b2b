#include "MainWindow.hpp"

#include <glib-unix.h>
#include <glibmm/markup.h>
#include <gtkmm/entry.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/native.h>
#include <gtkmm/text.h>

#include <csignal>

namespace somnara::gtk {

MainWindow::MainWindow(DaemonProxy& daemon)
    : daemon_(daemon), timer_(daemon), menu_(daemon), grid_(daemon), settings_(daemon), statistics_(daemon),
      downloads_(daemon) {
    set_title("Somnara");
    set_default_size(1100, 760);
    back_.set_icon_name("go-previous-symbolic");
    back_.set_tooltip_text("Sounds");
    back_.set_action_name("win.sounds");
    play_.set_name("play");
    play_.set_icon_name("media-playback-start-symbolic");
    play_.set_action_name("win.play-pause");
    title_.add_css_class("title");
    title_.set_ellipsize(Pango::EllipsizeMode::END);
    header_.pack_start(back_);
    header_.pack_start(play_);
    header_.pack_start(timer_);
    header_.set_title_widget(title_);
    header_.pack_end(menu_);
    set_titlebar(header_);

    stack_.add(grid_, "sounds");
    stack_.add(settings_, "settings");
    stack_.add(statistics_, "statistics");
    stack_.add(downloads_, "downloads");
    toasts_ = ADW_TOAST_OVERLAY(adw_toast_overlay_new());
    adw_toast_overlay_set_child(toasts_, GTK_WIDGET(stack_.gobj()));
    set_child(*Glib::wrap(GTK_WIDGET(toasts_)));
    addActions();
    addKeys();
    grid_.searchWhenTypingIn(*this);
    showPage("sounds");

    daemon_.signalChanged().connect(sigc::mem_fun(*this, &MainWindow::propertiesChanged));
    daemon_.signalReachable().connect(sigc::mem_fun(*this, &MainWindow::reachable));
    daemon_.signalError().connect([this](const std::string& message) {
        adw_toast_overlay_add_toast(toasts_, adw_toast_new(message.c_str()));
    });
    // Follows the desktop's light or dark style (and ADW_DEBUG_COLOR_SCHEME).
    auto* style = adw_style_manager_get_default();
    const auto restyle = +[](AdwStyleManager* manager, GParamSpec*, gpointer grid) {
        static_cast<SoundGrid*>(grid)->showAppearance(
            adw_style_manager_get_dark(manager) ? Appearance::dark : Appearance::light);
    };
    g_signal_connect(style, "notify::dark", G_CALLBACK(restyle), &grid_);
    restyle(style, nullptr, &grid_);
    // Once the window has been drawn and the daemon has answered, it says it is ready.
    signal_map().connect([this] {
        painted_ = get_frame_clock()->signal_paint().connect([this] {
            painted_.disconnect();
            shown_ = true;
            sayReady();
        });
    });
    // SIGUSR1 logs where the named controls are, so that a test can click them.
    placesSource_ = g_unix_signal_add(
        SIGUSR1,
        +[](gpointer window) -> gboolean {
            static_cast<MainWindow*>(window)->logPlaces(*static_cast<MainWindow*>(window));
            return G_SOURCE_CONTINUE;
        },
        this);
}

MainWindow::~MainWindow() {
    g_source_remove(placesSource_);
}

Gtk::Widget* MainWindow::unreachablePage(const std::string& why) {
    auto* page = adw_status_page_new();
    adw_status_page_set_icon_name(ADW_STATUS_PAGE(page), "network-offline-symbolic");
    adw_status_page_set_title(ADW_STATUS_PAGE(page), "The somnara daemon cannot be reached");
    const auto description = "The daemon plays the sounds; this window only controls it.\n" + why +
                             ".\nStart it with “somnara daemon &”.";
    adw_status_page_set_description(ADW_STATUS_PAGE(page), Glib::Markup::escape_text(description).c_str());
    return Glib::wrap(page);
}

void MainWindow::sayReady() {
    if (shown_ && reachable_ == true) {
        g_debug("window ready");
    }
}

void MainWindow::propertiesChanged(const std::string& interface, const DaemonProxy::Properties& properties) {
    if (interface == app::bus::playerInterface) {
        if (const auto state = properties.find("State"); state != properties.end()) {
            const auto name = state->second.get<std::string>();
            g_debug("state %s", name.c_str());
            playing_ = name == "playing";
            play_.set_icon_name(playing_ ? "media-playback-pause-symbolic" : "media-playback-start-symbolic");
            play_.set_tooltip_text(playing_ ? "Pause" : "Play");
        }
    } else if (interface == app::bus::selectionInterface) {
        if (const auto name = properties.find("Name"); name != properties.end()) {
            title_.set_text(name->second.get<std::string>());
        }
    } else if (interface == app::bus::downloadsInterface) {
        downloads_.show(properties);
    }
}

void MainWindow::reachable(bool reachable, const std::string& why) {
    if (reachable_ == reachable) {
        return;
    }
    reachable_ = reachable;
    if (reachable) {
        g_debug("the daemon answers");
        sayReady();
    } else {
        g_debug("the daemon cannot be reached: %s", why.c_str());
    }
    if (unreachable_ != nullptr) {
        stack_.remove(*unreachable_);
        unreachable_ = nullptr;
    }
    if (!reachable) {
        unreachable_ = unreachablePage(why);
        stack_.add(*unreachable_, "unreachable");
        stack_.set_visible_child(*unreachable_);
        title_.set_text("");
    } else if (stack_.get_visible_child_name() == "unreachable" || !stack_.get_visible_child()) {
        showPage("sounds");
    }
    play_.set_sensitive(reachable);
    timer_.set_sensitive(reachable);
}

void MainWindow::showPage(const char* name) {
    stack_.set_visible_child(name);
    back_.set_visible(std::string_view(name) != "sounds");
    if (std::string_view(name) == "settings") {
        settings_.load();
    } else if (std::string_view(name) == "statistics") {
        statistics_.load();
    }
}

void MainWindow::addActions() {
    using namespace app::bus;
    add_action("play-pause", [this] {
        if (playing_) {
            daemon_.call(playerInterface, "Pause", std::tuple{});
        } else {
            daemon_.call(playerInterface, "Play", std::tuple{std::vector<std::string>{}});
        }
    });
    add_action("sounds", [this] { showPage("sounds"); });
    add_action("settings", [this] { showPage("settings"); });
    add_action("statistics", [this] { showPage("statistics"); });
    add_action("downloads", [this] { showPage("downloads"); });
    add_action("search", [this] {
        showPage("sounds");
        grid_.startSearch();
    });
}

void MainWindow::addKeys() {
    // Space plays or pauses unless a text field has the keyboard; Ctrl+F searches.
    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys->signal_key_pressed().connect(
        [this](guint key, guint, Gdk::ModifierType modifiers) {
            const auto* focus = get_focus();
            const bool typing = dynamic_cast<const Gtk::Text*>(focus) != nullptr;
            if (key == GDK_KEY_space && !typing) {
                activate_action("win.play-pause");
                return true;
            }
            if (key == GDK_KEY_f &&
                (modifiers & Gdk::ModifierType::CONTROL_MASK) == Gdk::ModifierType::CONTROL_MASK) {
                activate_action("win.search");
                return true;
            }
            return false;
        },
        false);
    add_controller(keys);
}

void MainWindow::logPlaces(Gtk::Widget& widget) {
    const std::string name = widget.get_name();
    if (widget.get_mapped() && name.find("Gtk") == std::string::npos && !name.starts_with("Adw")) {
        graphene_rect_t bounds;
        double x = 0;
        double y = 0;
        gtk_native_get_surface_transform(GTK_NATIVE(gobj()), &x, &y);
        if (gtk_widget_compute_bounds(widget.gobj(), GTK_WIDGET(gobj()), &bounds)) {
            g_debug("place %s %d %d %d %d", name.c_str(), static_cast<int>(x + bounds.origin.x),
                    static_cast<int>(y + bounds.origin.y), static_cast<int>(bounds.size.width),
                    static_cast<int>(bounds.size.height));
        }
    }
    for (auto* child = widget.get_first_child(); child != nullptr; child = child->get_next_sibling()) {
        logPlaces(*child);
    }
    if (&widget == this) {
        g_debug("place end");
    }
}

} // namespace somnara::gtk
