#include "DaemonProxy.hpp"

#include <glib.h>

#include <vector>

namespace somnara::gtk {

namespace {

constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* interfaces[] = {app::bus::playerInterface, app::bus::selectionInterface,
                                      app::bus::favouritesInterface, app::bus::downloadsInterface};

} // namespace

DaemonProxy::DaemonProxy()
    : connection_(sdbus::createSessionBusConnection()),
      proxy_(sdbus::createProxy(*connection_, app::bus::name, app::bus::objectPath)),
      bus_(sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus")) {
    proxy_->uponSignal("PropertiesChanged")
        .onInterface(propertiesInterface)
        .call([this](const std::string& interface, const Properties& changed,
                     const std::vector<std::string>&) { changed_.emit(interface, changed); });
    proxy_->finishRegistration();
    // The daemon leaving or (re)starting: the window says so, or reads its state afresh.
    bus_->uponSignal("NameOwnerChanged")
        .onInterface("org.freedesktop.DBus")
        .call([this](const std::string& name, const std::string&, const std::string& owner) {
            if (name != app::bus::name) {
                return;
            }
            if (owner.empty()) {
                reachable_.emit(false, "The somnara daemon stopped");
            } else {
                refresh();
            }
        });
    bus_->finishRegistration();
    watch_ = Glib::signal_io().connect([this](Glib::IOCondition) { return dispatch(); },
                                       connection_->getEventLoopPollData().fd,
                                       Glib::IOCondition::IO_IN | Glib::IOCondition::IO_HUP);
    dispatchSoon();
}

DaemonProxy::~DaemonProxy() {
    watch_.disconnect();
    idle_.disconnect();
}

void DaemonProxy::refresh() {
    for (const char* interface : interfaces) {
        call(propertiesInterface, "GetAll", std::tuple{std::string(interface)},
             [this, interface](Properties properties) {
                 reachable_.emit(true, {});
                 changed_.emit(interface, properties);
             });
    }
}

void DaemonProxy::failed(const sdbus::Error& error) {
    if (app::bus::meansNoDaemon(error.getName())) {
        reachable_.emit(false, "No somnara daemon runs and the session bus cannot start one");
    } else {
        g_warning("the daemon refused: %s", error.getMessage().c_str());
        error_.emit(error.getMessage());
    }
}

bool DaemonProxy::dispatch() {
    while (connection_->processPendingRequest()) {
    }
    return true;
}

// A call is queued on the connection; serving it once from the main loop sends it even when the
// socket has nothing to read.
void DaemonProxy::dispatchSoon() {
    if (!idle_.connected()) {
        idle_ = Glib::signal_idle().connect([this] {
            dispatch();
            return false;
        });
    }
}

} // namespace somnara::gtk
