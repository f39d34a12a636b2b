#pragma once

#include <somnara/system/SomnaraLogger.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace somnara::test {

struct LogLine {
    std::string message;
    LogType type = LogType::debug;
};

/// Every line logged, through one handler for the whole test program (handlers cannot be removed); a
/// test clears it first. With SOMNARA_TEST_LOG set, each line is also written to standard error.
inline std::vector<LogLine>& logLines() {
    static std::vector<LogLine> lines = [] {
        SomnaraLogger::add([](const std::string& message, LogType type) {
            logLines().push_back({message, type});
            if (std::getenv("SOMNARA_TEST_LOG") != nullptr) {
                std::fprintf(stderr, "log: %s\n", message.c_str());
            }
        });
        return std::vector<LogLine>{};
    }();
    return lines;
}

inline std::vector<std::string> linesStartingWith(std::string_view prefix) {
    std::vector<std::string> found;
    for (const auto& line : logLines()) {
        if (line.message.starts_with(prefix)) {
            found.push_back(line.message);
        }
    }
    return found;
}

} // namespace somnara::test
