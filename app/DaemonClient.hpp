#pragma once

#include "SomnaraBus.hpp"
#include "SyncFolder.hpp"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace somnara::app {

/// No daemon can be reached: no session bus answers, or none runs and the bus cannot start one.
struct DaemonUnreachable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The command line's side of the daemon: method calls on its object, each bounded by a timeout so that a
/// command never hangs. The daemon's refusals come back as std::runtime_error with its message, which is
/// the one the command would print on its own.
class DaemonClient {
public:
    /// Long enough for the bus to start the daemon and for it to open the sounds' files.
    static constexpr std::chrono::seconds callTimeout{10};

    /// Throws DaemonUnreachable when no session bus answers.
    DaemonClient();

    /// Calls `method` of `interface` with `arguments`, storing the reply in `results`.
    template <class... Results, class... Arguments>
    void call(const char* interface, const char* method, std::tuple<Arguments...> arguments,
              Results&... results) {
        translatingErrors([&] {
            // The invoker keeps a reference to the name: it must outlive the statement.
            const std::string name(method);
            auto invoker = proxy_->callMethod(name);
            invoker.onInterface(interface).withTimeout(callTimeout);
            std::apply([&](auto&... values) { invoker.withArguments(values...); }, arguments);
            invoker.storeResultsTo(results...);
        });
    }

    using Properties = std::map<std::string, sdbus::Variant>;

    /// Whether a daemon holds the name now; asking never starts one.
    bool running();

    /// Calls `changed` with the properties of `interface` as they are, then with each change the daemon
    /// signals, until it returns false. Throws when the daemon leaves meanwhile.
    void follow(const char* interface, const std::function<bool(const Properties&)>& changed);

private:
    void translatingErrors(const std::function<void()>& call);

    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
};

/// Runs `remote` against the daemon unless the command names a sync folder of its own (that folder is
/// not the daemon's) or no daemon can be reached; returns whether it ran. The caller acts on the stored
/// state when it did not.
bool onDaemon(const SyncFolderOption& syncFolder, const std::function<void(DaemonClient&)>& remote);

/// Runs `remote` against the daemon; throws, starting with `what` ("cannot play"), when none is there.
void requireDaemon(const std::string& what, const std::function<void(DaemonClient&)>& remote);

} // namespace somnara::app
