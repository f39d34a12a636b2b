#include "DaemonClient.hpp"

#include <poll.h>

#include <cstdlib>
#include <vector>

namespace somnara::app {

DaemonClient::DaemonClient() {
    try {
        connection_ = sdbus::createSessionBusConnection();
    } catch (const sdbus::Error& error) {
        const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        throw DaemonUnreachable(address == nullptr || *address == 0
                                    ? "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)"
                                    : "the session bus does not answer (" + error.getMessage() + ")");
    }
    proxy_ = sdbus::createProxy(*connection_, bus::name, bus::objectPath);
}

void DaemonClient::translatingErrors(const std::function<void()>& call) {
    try {
        call();
    } catch (const sdbus::Error& error) {
        if (bus::meansNoDaemon(error.getName())) {
            throw DaemonUnreachable("no somnara daemon runs and the session bus cannot start one");
        }
        if (error.getName() == "org.freedesktop.DBus.Error.NoReply" ||
            error.getName() == "org.freedesktop.DBus.Error.Timeout") {
            throw std::runtime_error("the somnara daemon did not answer within " +
                                     std::to_string(callTimeout.count()) + " s");
        }
        throw std::runtime_error(error.getMessage());
    }
}

bool DaemonClient::running() {
    bool has = false;
    translatingErrors([&] {
        const auto bus = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        bus->callMethod("NameHasOwner")
            .onInterface("org.freedesktop.DBus")
            .withArguments(std::string(bus::name))
            .storeResultsTo(has);
    });
    return has;
}

void DaemonClient::follow(const char* interface, const std::function<bool(const Properties&)>& changed) {
    constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
    bool more = true;
    // Subscribed before reading the properties, so that no change falls between.
    proxy_->uponSignal("PropertiesChanged")
        .onInterface(propertiesInterface)
        .call([&](const std::string& name, const Properties& values, const std::vector<std::string>&) {
            if (more && name == interface) {
                more = changed(values);
            }
        });
    proxy_->finishRegistration();
    Properties all;
    call(propertiesInterface, "GetAll", std::tuple{std::string(interface)}, all);
    more = changed(all);
    // Messages read during the calls wait in the connection, not on its socket: they are served first.
    while (more && connection_->processPendingRequest()) {
    }
    while (more) {
        const auto wait = connection_->getEventLoopPollData();
        pollfd descriptor{wait.fd, static_cast<short>(wait.events), 0};
        // Woken each second without news to notice a daemon that has gone.
        if (::poll(&descriptor, 1, 1000) == 0 && !running()) {
            throw std::runtime_error("the somnara daemon stopped");
        }
        while (more && connection_->processPendingRequest()) {
        }
    }
}

bool onDaemon(const SyncFolderOption& syncFolder, const std::function<void(DaemonClient&)>& remote) {
    if (!syncFolder.folder.empty()) {
        return false;
    }
    try {
        DaemonClient client;
        remote(client);
        return true;
    } catch (const DaemonUnreachable&) {
        return false;
    }
}

void requireDaemon(const std::string& what, const std::function<void(DaemonClient&)>& remote) {
    try {
        DaemonClient client;
        remote(client);
    } catch (const DaemonUnreachable& error) {
        throw std::runtime_error(what + ": " + error.what() +
                                 "; the daemon plays (start it with `somnara daemon &`, or install it so "
                                 "that the session bus starts it)");
    }
}

} // namespace somnara::app
