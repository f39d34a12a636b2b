#pragma once

#include <somnara/system/DetailedErrorDescription.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace somnara {

/// The maker's analytics library as the library calls it: events, user properties and logged
/// assertions. This stand-in records them: it counts every call, tells observers, and appends each one
/// as a JSON line to a file when the app has set one. A logged assertion never stops the process:
/// callers go on with a fallback.
///
/// One process-wide instance; every operation is safe from any thread (one mutex, never held while an
/// observer runs).
class ZelAnalyticsLogger {
public:
    /// One call, as observers and the log file see it.
    struct Record {
        enum class Kind { event, userProperties, assertionFailure };
        Kind kind = Kind::event;
        /// The event name (events only).
        std::string name;
        /// Event parameters or user properties; a JSON object or none.
        std::optional<nlohmann::json> parameters;
        /// The assertion's message, file, function and line (logged assertions only).
        std::optional<std::string> message;
        std::string file;
        std::string function;
        int line = 0;

        nlohmann::json toJSON() const;
    };

    struct Counts {
        std::uint64_t events = 0;
        std::uint64_t userProperties = 0;
        std::uint64_t assertionFailures = 0;
    };

    using Observer = std::function<void(const Record&)>;

    /// Keeps an observer registered for as long as it lives.
    class Observation {
    public:
        Observation() = default;
        Observation(Observation&& other) noexcept;
        Observation& operator=(Observation&& other) noexcept;
        ~Observation();
        void cancel();

    private:
        friend class ZelAnalyticsLogger;
        explicit Observation(std::uint64_t id) : id_(id) {}
        std::uint64_t id_ = 0;
    };

    static ZelAnalyticsLogger& shared();

    void logEvent(std::string name, std::optional<nlohmann::json> params);
    void updateUserProperties(std::optional<nlohmann::json> properties);
    /// Reports a broken expectation when `condition` is false.
    void loggedAssert(bool condition, std::optional<std::string> message, std::string file,
                      std::string function, int line);
    /// Reports a broken expectation; execution continues.
    void loggedAssertionFailure(std::optional<std::string> message, std::string file, std::string function,
                                int line);

    /// Appends every later record as one JSON line to `path` (created if missing); none stops that.
    void setLogFile(std::optional<std::filesystem::path> path);

    Counts counts() const;
    /// Calls `observer` with every later record, on the calling thread, until the observation ends.
    [[nodiscard]] Observation observe(Observer observer);

    ZelAnalyticsLogger(const ZelAnalyticsLogger&) = delete;
    ZelAnalyticsLogger& operator=(const ZelAnalyticsLogger&) = delete;
    ~ZelAnalyticsLogger();

private:
    ZelAnalyticsLogger();
    void record(Record record);
    void removeObserver(std::uint64_t id);

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace somnara
