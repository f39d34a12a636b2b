#include "Home.hpp"

#include "TerminalText.hpp"

#include <somnara/linux/files/XdgFileLocations.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

namespace somnara::app {

void requireUsableHome() {
    const auto* locations = dynamic_cast<const XdgFileLocations*>(FileLocations::shared().get());
    if (locations == nullptr) {
        return;
    }
    if (const auto problem = locations->unusableDirectory()) {
        throw std::runtime_error(*problem);
    }
}

void sayStorageErrors() {
    static const bool installed = [] {
        SomnaraLogger::add([](const std::string& message, LogType type) {
            if (type >= LogType::error) {
                std::cerr << "somnara: " << printable(message) << '\n';
            }
        });
        return true;
    }();
    static_cast<void>(installed);
}

HomeLock::HomeLock() {
    requireUsableHome();
    const auto path = *FileLocations::shared()->documentsDirectory() / "somnara.lock";
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (descriptor_ < 0) {
        throw std::runtime_error("cannot change anything: cannot open the lock file " + path.string() + ": " +
                                 std::strerror(errno));
    }
    while (::flock(descriptor_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(descriptor_);
            throw std::runtime_error("cannot lock " + path.string() + ": " + std::strerror(error));
        }
    }
}

HomeLock::~HomeLock() {
    // Closing the descriptor releases the lock.
    ::close(descriptor_);
}

} // namespace somnara::app
