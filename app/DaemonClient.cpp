#include "DaemonClient.hpp"

#include <cstdlib>

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
