#include <somnara/foundation/AtomicFile.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>
#include <system_error>

namespace somnara {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

/// Closes a descriptor on every path out of a function.
class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const noexcept { return fd_; }
    /// Closes now and reports a failed close (which can be the first report of a failed write).
    int close() noexcept {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

void writeAll(int fd, std::string_view contents, const fs::path& path) {
    while (!contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot write temporary file", path, errno);
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
}

/// The process's umask, read without changing it: umask() can only read by setting, which would race
/// with other threads creating files. Linux reports it in /proc/self/status.
mode_t currentUmask() {
    if (const auto status = readWholeFile("/proc/self/status")) {
        const auto at = status->find("Umask:");
        if (at != std::string::npos) {
            return static_cast<mode_t>(std::stoul(status->substr(at + 6, 16), nullptr, 8));
        }
    }
    return 022;
}

} // namespace

void writeFileAtomically(const fs::path& path, std::string_view contents) {
    const fs::path directory = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string temporaryName = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporaryName.data(), O_CLOEXEC);
    if (fd < 0) {
        fail("cannot create temporary file", path, errno);
    }
    Descriptor file(fd);
    const fs::path temporary(temporaryName);
    try {
        struct stat existing {};
        mode_t mode = 0;
        if (::stat(path.c_str(), &existing) == 0) {
            mode = existing.st_mode & 07777;
        } else {
            // mkstemp creates 0600; give a new file the mode an ordinary open() would.
            mode = 0644 & ~currentUmask();
        }
        if (::fchmod(file.get(), mode) != 0) {
            fail("cannot set the mode of temporary file", temporary, errno);
        }
        writeAll(file.get(), contents, temporary);
        if (::fsync(file.get()) != 0) {
            fail("cannot flush temporary file", temporary, errno);
        }
        if (file.close() != 0) {
            fail("cannot close temporary file", temporary, errno);
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            fail("cannot replace file", path, errno);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // The rename is durable only once the directory entry is on disk.
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        fail("cannot open directory to flush it", directory, errno);
    }
    if (::fsync(dir.get()) != 0 && errno != EINVAL) {
        fail("cannot flush directory", directory, errno);
    }
}

std::optional<std::string> readWholeFile(const fs::path& path) {
    // Non-blocking, so that a FIFO put in a file's place cannot hang the reader before fstat refuses it.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("cannot open file", path, errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        fail("cannot read file", path, errno);
    }
    // A device (a link to /dev/zero), FIFO or socket never ends or may block; only a file holds a value.
    if (!S_ISREG(status.st_mode)) {
        throw fs::filesystem_error("refused: not a regular file", path,
                                   std::make_error_code(std::errc::invalid_argument));
    }
    if (status.st_size > static_cast<off_t>(maximumReadSize)) {
        throw fs::filesystem_error("refused: larger than " + std::to_string(maximumReadSize >> 20) + " MiB",
                                   path, std::make_error_code(std::errc::file_too_large));
    }
    std::string contents;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot read file", path, errno);
        }
        if (count == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
        // The file may grow while it is read.
        if (contents.size() > maximumReadSize) {
            throw fs::filesystem_error("refused: larger than " + std::to_string(maximumReadSize >> 20) +
                                           " MiB",
                                       path, std::make_error_code(std::errc::file_too_large));
        }
    }
    return contents;
}

std::string corruptCopySuffix(std::chrono::system_clock::time_point time) {
    const auto seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return std::string(".corrupt-") + stamp;
}

std::optional<fs::path> keepCorruptCopy(const fs::path& path, std::string_view contents) {
    const auto directory = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const auto prefix = path.filename().string() + ".corrupt-";
    std::error_code error;
    for (fs::directory_iterator entry{directory, error}, end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().filename().string().starts_with(prefix) &&
            entry->file_size(error) == contents.size() && readWholeFile(entry->path()) == contents) {
            return std::nullopt;
        }
    }
    const auto suffix = corruptCopySuffix(std::chrono::system_clock::now());
    auto copy = path;
    copy += suffix;
    // Two damaged versions within one second keep both.
    for (int count = 2; fs::exists(copy); ++count) {
        copy = path;
        copy += suffix + "-" + std::to_string(count);
    }
    writeFileAtomically(copy, contents);
    return copy;
}

} // namespace somnara
