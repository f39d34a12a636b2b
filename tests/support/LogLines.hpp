#pragma once

#include <somnara/system/SomnaraLogger.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace somnara::test {

/// Every line logged, through one handler for the whole test program (handlers cannot be removed); a
/// test clears it first.
inline std::vector<std::string>& logLines() {
    static std::vector<std::string> lines = [] {
        SomnaraLogger::add([](const std::string& message, LogType) { logLines().push_back(message); });
        return std::vector<std::string>{};
    }();
    return lines;
}

inline std::vector<std::string> linesStartingWith(std::string_view prefix) {
    std::vector<std::string> found;
    for (const auto& line : logLines()) {
        if (line.starts_with(prefix)) {
            found.push_back(line);
        }
    }
    return found;
}

} // namespace somnara::test
