#include <somnara/system/SomnaraLogger.hpp>

#include <syslog.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace somnara {
namespace {

using Handlers = std::vector<SomnaraLogger::Handler>;

// Handlers are appended at start-up but lines may come from any thread: readers take a snapshot of the
// list under a short lock and call it unlocked, so a handler may itself log.
struct LoggerState {
    std::mutex mutex;
    std::shared_ptr<const Handlers> handlers = std::make_shared<const Handlers>();
    std::once_flag openedLog;
};

LoggerState& state() {
    static LoggerState instance;
    return instance;
}

std::atomic<LogType> minimumLevel_{LogType::info};
std::atomic<bool> echoes_{false};

int syslogPriority(LogType type) noexcept {
    switch (type) {
    case LogType::debug:
        return LOG_DEBUG;
    case LogType::info:
        return LOG_INFO;
    case LogType::defaultLevel:
        return LOG_NOTICE;
    case LogType::error:
        return LOG_ERR;
    case LogType::fault:
        return LOG_CRIT;
    }
    return LOG_NOTICE;
}

} // namespace

const char* logTypeName(LogType type) noexcept {
    switch (type) {
    case LogType::debug:
        return "debug";
    case LogType::info:
        return "info";
    case LogType::defaultLevel:
        return "default";
    case LogType::error:
        return "error";
    case LogType::fault:
        return "fault";
    }
    return "default";
}

void SomnaraLogger::log(std::string message, LogType type) {
    auto& shared = state();
    if (isEnabled(type)) {
        std::call_once(shared.openedLog, [] { openlog("somnara", LOG_PID, LOG_USER); });
        // The message is never used as a format: a '%' in a sound name or path must print as itself.
        syslog(syslogPriority(type), "%s", message.c_str());
        if (echoes_.load(std::memory_order_relaxed)) {
            std::fprintf(stderr, "[%s] %s\n", logTypeName(type), message.c_str());
        }
    }
    std::shared_ptr<const Handlers> handlers;
    {
        const std::lock_guard lock(shared.mutex);
        handlers = shared.handlers;
    }
    for (const auto& handler : *handlers) {
        handler(message, type);
    }
}

void SomnaraLogger::add(Handler handler) {
    auto& shared = state();
    const std::lock_guard lock(shared.mutex);
    auto extended = std::make_shared<Handlers>(*shared.handlers);
    extended->push_back(std::move(handler));
    shared.handlers = std::move(extended);
}

void SomnaraLogger::setMinimumLevel(LogType level) noexcept {
    minimumLevel_.store(level);
}

LogType SomnaraLogger::minimumLevel() noexcept {
    return minimumLevel_.load();
}

bool SomnaraLogger::isEnabled(LogType type) noexcept {
    return type >= minimumLevel_.load();
}

void SomnaraLogger::setEchoesToStandardError(bool echoes) noexcept {
    echoes_.store(echoes);
}

} // namespace somnara
