#include "DaemonProxy.hpp"
#include "MainWindow.hpp"

#include <adwaita.h>
#include <gtkmm/application.h>

#include <memory>

// somnara-gtk: the desktop window of the somnara daemon. It holds no state of its own; without a
// session bus it says so and shows nothing else.
int main(int argc, char* argv[]) {
    auto application = Gtk::Application::create("org.somnara.Mixer");
    std::unique_ptr<somnara::gtk::DaemonProxy> daemon;
    std::unique_ptr<Gtk::ApplicationWindow> window;
    application->signal_startup().connect([] { adw_init(); });
    application->signal_activate().connect([&] {
        if (!window) {
            try {
                daemon = std::make_unique<somnara::gtk::DaemonProxy>();
                window = std::make_unique<somnara::gtk::MainWindow>(*daemon);
                daemon->refresh();
            } catch (const sdbus::Error& error) {
                window = std::make_unique<Gtk::ApplicationWindow>();
                window->set_default_size(600, 400);
                window->set_child(*somnara::gtk::MainWindow::unreachablePage("No session bus answers (" +
                                                                             error.getMessage() + ")"));
            }
            application->add_window(*window);
        }
        window->present();
    });
    application->set_accel_for_action("win.settings", "<Control>comma");
    application->set_accel_for_action("win.statistics", "<Control>i");
    application->set_accel_for_action("win.sounds", "<Alt>Left");
    return application->run(argc, argv);
}
