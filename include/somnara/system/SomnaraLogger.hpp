#pragma once

#include <functional>
#include <string>

namespace somnara {

/// The level of a diagnostic line, from the least to the most severe. `defaultLevel` is the level of
/// ordinary notices (the system log's "notice").
enum class LogType { debug, info, defaultLevel, error, fault };

/// Diagnostic lines of the library: written to the system log (syslog, so journald keeps them) when
/// their level is enabled, and handed to every registered handler whether written or not.
///
/// No instances: static operations over process-wide state. Any thread may log; handlers are expected
/// to be added at start-up, before lines flow, and are called on the thread that logs.
class SomnaraLogger {
public:
    using Handler = std::function<void(const std::string& message, LogType type)>;

    SomnaraLogger() = delete;

    static void log(std::string message, LogType type);
    /// Appends a handler; handlers are called in the order they were added.
    static void add(Handler handler);

    /// The least severe level written to the system log. Debug lines are off unless asked for, as a
    /// system log keeps them only on request too.
    static void setMinimumLevel(LogType level) noexcept;
    static LogType minimumLevel() noexcept;
    static bool isEnabled(LogType type) noexcept;

    /// The app's verbose mode: enabled lines are also echoed to standard error.
    static void setEchoesToStandardError(bool echoes) noexcept;
};

/// The short lower-case name of a level, as printed in echoed lines ("debug", "info", "default", ...).
const char* logTypeName(LogType type) noexcept;

} // namespace somnara
