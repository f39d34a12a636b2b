#include <somnara/platform/UserDefaults.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/stats/LastActiveDateTracker.hpp>

#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace somnara {

std::shared_ptr<LastActiveDateTracker> LastActiveDateTracker::make() {
    return std::make_shared<LastActiveDateTracker>(Private{});
}

void LastActiveDateTracker::start() {
    task_.cancel();
    task_ = spawn([self = shared_from_this()]() -> asio::awaitable<void> {
        PeriodicTimer timer{Seconds{timeInterval}, Seconds{tolerance}};
        while (auto tick = co_await timer.next()) {
            UserDefaults::standard()->set(Loop::current().now(), userDefaultsKey);
        }
    });
}

asio::awaitable<std::optional<Date>> LastActiveDateTracker::storedDate() {
    auto executor = co_await asio::this_coro::executor;
    co_await asio::post(executor, asio::use_awaitable);
    const auto value = UserDefaults::standard()->object(userDefaultsKey);
    if (value) {
        if (const Date* date = value->get<Date>()) {
            co_return *date;
        }
    }
    co_return std::nullopt;
}

} // namespace somnara
