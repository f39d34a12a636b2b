#pragma once

#include "SomnaraBus.hpp"

#include <glibmm/main.h>
#include <sdbus-c++/sdbus-c++.h>
#include <sigc++/signal.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>

namespace somnara::gtk {

/// The window's side of the daemon: asynchronous method calls on its object, and its properties as
/// they change, followed through PropertiesChanged and the bus's NameOwnerChanged (never polled).
/// The bus connection is served by the GTK main loop, so every reply and signal arrives there.
///
/// GTK main thread only.
class DaemonProxy {
public:
    using Properties = std::map<std::string, sdbus::Variant>;

    /// Throws sdbus::Error when no session bus answers.
    DaemonProxy();
    ~DaemonProxy();
    DaemonProxy(const DaemonProxy&) = delete;
    DaemonProxy& operator=(const DaemonProxy&) = delete;

    /// Asks for every property of the daemon's interfaces; starts the daemon when the bus can.
    void refresh();

    /// Calls `method` with `arguments`; `reply` receives the results (taken by value) on success. A
    /// refusal is reported through `signalError`, an absent daemon through `signalReachable`.
    template <class Reply = void (*)(), class... Arguments>
    void call(
        const char* interface, const char* method, std::tuple<Arguments...> arguments, Reply reply = [] {}) {
        // The invoker keeps a reference to the name: it must outlive the statement.
        const std::string name(method);
        auto invoker = proxy_->callMethodAsync(name);
        invoker.onInterface(interface);
        std::apply([&](auto&... values) { invoker.withArguments(values...); }, arguments);
        invoker.uponReplyInvoke(
            replying(std::move(reply), static_cast<sdbus::function_arguments_t<Reply>*>(nullptr)));
        dispatchSoon();
    }

    /// Properties of `interface` that changed, with their new values.
    sigc::signal<void(const std::string&, const Properties&)>& signalChanged() { return changed_; }
    /// Whether the daemon answers, with the reason when it does not.
    sigc::signal<void(bool, const std::string&)>& signalReachable() { return reachable_; }
    /// A request the daemon refused, with its message.
    sigc::signal<void(const std::string&)>& signalError() { return error_; }

private:
    template <class Reply, class... Results>
    auto replying(Reply reply, std::tuple<Results...>*) {
        return [this, reply = std::move(reply)](const sdbus::Error* error, std::decay_t<Results>... results) {
            if (error != nullptr) {
                failed(*error);
            } else {
                reply(std::move(results)...);
            }
        };
    }
    void failed(const sdbus::Error& error);
    bool dispatch();
    void dispatchSoon();

    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::unique_ptr<sdbus::IProxy> bus_;
    sigc::connection watch_;
    sigc::connection idle_;
    sigc::signal<void(const std::string&, const Properties&)> changed_;
    sigc::signal<void(bool, const std::string&)> reachable_;
    sigc::signal<void(const std::string&)> error_;
};

} // namespace somnara::gtk
