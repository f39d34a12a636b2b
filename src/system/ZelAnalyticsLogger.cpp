#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <syslog.h>

#include <fstream>
#include <map>
#include <mutex>
#include <vector>

namespace somnara {

struct ZelAnalyticsLogger::State {
    mutable std::mutex mutex;
    Counts counts;
    std::map<std::uint64_t, std::shared_ptr<const Observer>> observers;
    std::uint64_t nextObserverId = 1;
    std::ofstream file;
};

nlohmann::json ZelAnalyticsLogger::Record::toJSON() const {
    nlohmann::json json = nlohmann::json::object();
    switch (kind) {
    case Kind::event:
        json["type"] = "event";
        json["name"] = name;
        json["parameters"] = parameters.value_or(nullptr);
        break;
    case Kind::userProperties:
        json["type"] = "user_properties";
        json["properties"] = parameters.value_or(nullptr);
        break;
    case Kind::assertionFailure:
        json["type"] = "assertion_failure";
        json["message"] = message ? nlohmann::json(*message) : nlohmann::json(nullptr);
        json["file"] = file;
        json["function"] = function;
        json["line"] = line;
        break;
    }
    return json;
}

ZelAnalyticsLogger::Observation::Observation(Observation&& other) noexcept
    : id_(std::exchange(other.id_, 0)) {}

ZelAnalyticsLogger::Observation& ZelAnalyticsLogger::Observation::operator=(Observation&& other) noexcept {
    if (this != &other) {
        cancel();
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

ZelAnalyticsLogger::Observation::~Observation() {
    cancel();
}

void ZelAnalyticsLogger::Observation::cancel() {
    if (id_ != 0) {
        ZelAnalyticsLogger::shared().removeObserver(std::exchange(id_, 0));
    }
}

ZelAnalyticsLogger::ZelAnalyticsLogger() : state_(std::make_unique<State>()) {}

ZelAnalyticsLogger::~ZelAnalyticsLogger() = default;

ZelAnalyticsLogger& ZelAnalyticsLogger::shared() {
    // Never destroyed, so that a static object's destructor may still report.
    static ZelAnalyticsLogger* instance = new ZelAnalyticsLogger();
    return *instance;
}

void ZelAnalyticsLogger::logEvent(std::string name, std::optional<nlohmann::json> params) {
    Record entry;
    entry.kind = Record::Kind::event;
    entry.name = std::move(name);
    entry.parameters = std::move(params);
    record(std::move(entry));
}

void ZelAnalyticsLogger::updateUserProperties(std::optional<nlohmann::json> properties) {
    Record entry;
    entry.kind = Record::Kind::userProperties;
    entry.parameters = std::move(properties);
    record(std::move(entry));
}

void ZelAnalyticsLogger::loggedAssert(bool condition, std::optional<std::string> message, std::string file,
                                      std::string function, int line) {
    if (!condition) {
        loggedAssertionFailure(std::move(message), std::move(file), std::move(function), line);
    }
}

void ZelAnalyticsLogger::loggedAssertionFailure(std::optional<std::string> message, std::string file,
                                                std::string function, int line) {
    // A broken expectation also goes to the system log, so that it is found beside the lines around it.
    syslog(LOG_ERR, "assertion failure in %s %s line %d: %s", file.c_str(), function.c_str(), line,
           message ? message->c_str() : "(no message)");
    Record entry;
    entry.kind = Record::Kind::assertionFailure;
    entry.message = std::move(message);
    entry.file = std::move(file);
    entry.function = std::move(function);
    entry.line = line;
    record(std::move(entry));
}

void ZelAnalyticsLogger::setLogFile(std::optional<std::filesystem::path> path) {
    const std::lock_guard lock(state_->mutex);
    state_->file = std::ofstream();
    if (path) {
        state_->file.open(*path, std::ios::app);
    }
}

ZelAnalyticsLogger::Counts ZelAnalyticsLogger::counts() const {
    const std::lock_guard lock(state_->mutex);
    return state_->counts;
}

ZelAnalyticsLogger::Observation ZelAnalyticsLogger::observe(Observer observer) {
    const std::lock_guard lock(state_->mutex);
    const auto id = state_->nextObserverId++;
    state_->observers.emplace(id, std::make_shared<const Observer>(std::move(observer)));
    return Observation(id);
}

void ZelAnalyticsLogger::removeObserver(std::uint64_t id) {
    const std::lock_guard lock(state_->mutex);
    state_->observers.erase(id);
}

void ZelAnalyticsLogger::record(Record entry) {
    std::vector<std::shared_ptr<const Observer>> observers;
    {
        const std::lock_guard lock(state_->mutex);
        switch (entry.kind) {
        case Record::Kind::event:
            ++state_->counts.events;
            break;
        case Record::Kind::userProperties:
            ++state_->counts.userProperties;
            break;
        case Record::Kind::assertionFailure:
            ++state_->counts.assertionFailures;
            break;
        }
        if (state_->file.is_open()) {
            // One whole line per record, flushed, so that a reader never sees half of one. Text that is not
            // valid UTF-8 is replaced rather than lost with the whole record.
            state_->file << entry.toJSON().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                         << '\n'
                         << std::flush;
        }
        observers.reserve(state_->observers.size());
        for (const auto& [id, observer] : state_->observers) {
            observers.push_back(observer);
        }
    }
    for (const auto& observer : observers) {
        (*observer)(entry);
    }
}

} // namespace somnara
