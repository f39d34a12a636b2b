#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>

namespace somnara::test {

/// What `command` prints on standard output.
inline std::string shellOutput(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe{popen(command.c_str(), "r"), pclose};
    std::array<char, 4096> chunk{};
    while (pipe && std::fgets(chunk.data(), chunk.size(), pipe.get()) != nullptr) {
        output += chunk.data();
    }
    return output;
}

} // namespace somnara::test
