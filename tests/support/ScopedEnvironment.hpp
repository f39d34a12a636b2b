#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace somnara::test {

/// Environment variables changed for a scope: each goes back to what it was (set or unset) at its end, so
/// that no test leaves its `TZ` or home behind for the next.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const std::string& name, const std::optional<std::string>& value) { set(name, value); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            apply(it->first, it->second);
        }
    }

    /// Sets `name` to `value`, or unsets it for none.
    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* previous = std::getenv(name.c_str());
        saved_.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
        apply(name, value);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace somnara::test
