#pragma once

#include "BusConnection.hpp"
#include "Daemon.hpp"

#include <somnara/runtime/Task.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sdbus {
class IObject;
}

namespace somnara::app {

/// The daemon's object on the session bus (dbus/org.somnara.Somnara.xml): the player, the selection,
/// mixes, favourites, settings, statistics and the lossless downloads as methods, and the player's and the
/// selection's state as properties whose changes are signalled, so that windows and applets follow without
/// polling.
///
/// Every method runs as a task on the loop and answers when its operation has finished; a refusal
/// comes back as a D-Bus error carrying the message the command line prints.
///
/// Loop only.
class BusService {
public:
    BusService(std::shared_ptr<BusConnection> bus, std::shared_ptr<Daemon> daemon);
    ~BusService();
    BusService(const BusService&) = delete;
    BusService& operator=(const BusService&) = delete;

private:
    void registerPlayer();
    void registerSelection();
    void registerMixes();
    void registerFavourites();
    void registerSettingsAndStatistics();
    void registerDownloads();
    void observe();
    void observeDownloads();
    void followTransfers();
    asio::awaitable<void> refreshVolumes();
    void changed(const char* interface, std::vector<std::string> properties);

    std::shared_ptr<BusConnection> bus_;
    std::shared_ptr<Daemon> daemon_;
    std::unique_ptr<sdbus::IObject> object_;
    std::map<std::string, double> volumes_;
    std::vector<Task<void>> observations_;
    /// Publishes the bytes written while transfers run; idle otherwise.
    Task<void> transfers_;
};

} // namespace somnara::app
