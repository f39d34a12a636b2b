#include "Commands.hpp"
#include "Daemon.hpp"
#include "DaemonClient.hpp"

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/catalogue/SoundTracksStore.hpp>
#include <somnara/downloads/SoundsDownloader.hpp>
#include <somnara/foundation/StringScore.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Sleep.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace somnara::app {
namespace {

std::string padded(std::string_view text, std::size_t width) {
    std::string result(text);
    result.resize(std::max(width, text.size()), ' ');
    return result;
}

/// One row per sound: raw value, identifier, English name, file name and, when searching, the score.
void printTable(const std::vector<SoundTrack>& tracks, const std::string* term) {
    std::size_t identifierWidth = std::string_view("identifier").size();
    std::size_t nameWidth = std::string_view("name").size();
    std::size_t fileWidth = std::string_view("file").size();
    for (const auto track : tracks) {
        identifierWidth = std::max(identifierWidth, track.identifier().size());
        nameWidth = std::max(nameWidth, track.englishName().size());
        fileWidth = std::max(fileWidth, track.fileName().size());
    }
    std::cout << " #  " << padded("identifier", identifierWidth) << "  " << padded("name", nameWidth) << "  "
              << (term != nullptr ? padded("file", fileWidth) + "  score" : "file") << '\n';
    for (const auto track : tracks) {
        const auto raw = std::to_string(track.rawValue());
        std::cout << std::string(2 - std::min<std::size_t>(raw.size(), 2), ' ') << raw << "  "
                  << padded(track.identifier(), identifierWidth) << "  "
                  << padded(track.englishName(), nameWidth) << "  ";
        if (term != nullptr) {
            char score[16];
            std::snprintf(score, sizeof score, "%.3f", somnara::score(track.name(), *term, 0.5));
            std::cout << padded(track.fileName(), fileWidth) << "  " << score << '\n';
        } else {
            std::cout << track.fileName() << '\n';
        }
    }
}

constexpr std::size_t soundCount = 50;

std::shared_ptr<SoundsDownloader> makeDownloader(std::optional<BucketConfiguration> bucket) {
    return makeSoundsDownloader(std::move(bucket), false);
}

std::string megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

/// The foreground download's progress on standard error: a bar redrawn in place on a terminal, else a
/// line each time a sound is stored.
class DownloadProgress {
public:
    explicit DownloadProgress(std::size_t presentAtStart)
        : terminal_(::isatty(STDERR_FILENO) == 1), lastPresent_(presentAtStart),
          start_(Loop::current().continuousNow()) {}

    void show(std::size_t present, std::int64_t bytes) {
        const double seconds =
            std::chrono::duration<double>(Loop::current().continuousNow() - start_).count();
        const auto text = std::to_string(present) + "/" + std::to_string(soundCount) + " sounds  " +
                          megabytes(static_cast<double>(bytes)) + "  " +
                          megabytes(seconds > 0 ? static_cast<double>(bytes) / seconds : 0) + "/s";
        if (terminal_) {
            constexpr std::size_t width = 30;
            const auto filled = present * width / soundCount;
            std::cerr << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "] " << text
                      << "   " << std::flush;
        } else if (present != lastPresent_) {
            std::cerr << text << std::endl;
        }
        lastPresent_ = present;
    }

    void end() const {
        if (terminal_) {
            std::cerr << '\n';
        }
    }

private:
    const bool terminal_;
    std::size_t lastPresent_;
    const ContinuousInstant start_;
};

/// The end of a download that scheduled transfers: the final progress, how many sounds are lossless, and
/// failure when some are missing.
void report(DownloadProgress& progress, std::size_t present, std::int64_t bytes) {
    progress.show(present, bytes);
    progress.end();
    std::cout << present << " of " << soundCount << " sounds are lossless ("
              << megabytes(static_cast<double>(bytes)) << " downloaded)\n";
    if (present < soundCount) {
        std::cerr
            << "somnara: " << soundCount - present
            << " sounds could not be downloaded; run with the system log open (journalctl -f) to see why\n";
        throw CLI::RuntimeError(1);
    }
}

/// A running daemon owns the downloads: a second process fetching into the same folder would run the
/// same transfers twice, and the daemon's properties would not follow. So the commands go through it
/// when one runs; none is started only for this.
std::unique_ptr<DaemonClient> runningDaemon() {
    try {
        auto daemon = std::make_unique<DaemonClient>();
        if (daemon->running()) {
            return daemon;
        }
    } catch (const DaemonUnreachable&) {
    }
    return nullptr;
}

/// The download asked of the daemon, its progress shown from the daemon's signals.
void downloadOnDaemon(DaemonClient& daemon) {
    RealLoop loop;
    std::uint32_t scheduled = 0;
    daemon.call(bus::downloadsInterface, "Download", std::tuple{}, scheduled);
    std::optional<DownloadProgress> progress;
    std::size_t present = 0;
    std::int64_t bytes = 0;
    bool running = false;
    daemon.follow(bus::downloadsInterface, [&](const DaemonClient::Properties& changed) {
        const auto read = [&changed](const char* name, auto& value) {
            if (const auto found = changed.find(name); found != changed.end()) {
                value = found->second.get<std::remove_reference_t<decltype(value)>>();
            }
        };
        std::uint32_t count = static_cast<std::uint32_t>(present);
        read("Present", count);
        present = count;
        read("BytesWritten", bytes);
        read("Running", running);
        if (!progress) {
            progress.emplace(present);
        }
        progress->show(present, bytes);
        return running;
    });
    if (scheduled == 0 && present == soundCount) {
        std::cout << "All " << soundCount << " sounds are already downloaded\n";
        return;
    }
    report(*progress, present, bytes);
}

/// `somnara sounds download`: one synchronisation in the foreground, until its transfers end.
void download() {
    if (const auto daemon = runningDaemon()) {
        downloadOnDaemon(*daemon);
        return;
    }
    auto bucket = BucketConfiguration::load();
    if (!bucket) {
        std::cerr << "somnara: " << BucketConfiguration::noneConfiguredMessage() << '\n';
        throw CLI::RuntimeError(1);
    }
    RealLoop loop;
    const auto downloader = makeDownloader(std::move(bucket));
    const auto present = [&downloader] { return soundCount - downloader->missingSoundsCount(); };
    DownloadProgress progress(present());
    downloader->setBackgroundCompletionHandler([&loop] { loop.stop(); });
    std::exception_ptr failure;
    auto synchronising = spawn([&]() -> asio::awaitable<void> {
        try {
            // Named first: g++ 12 destroys a temporary of a co_await expression twice.
            const auto syncing = downloader->sync();
            const auto scheduled = co_await syncing.value();
            if (scheduled == 0) {
                std::cout << "All " << soundCount << " sounds are already downloaded\n";
                loop.stop();
            }
        } catch (...) {
            failure = std::current_exception();
            loop.stop();
        }
    });
    auto drawing = spawn([&]() -> asio::awaitable<void> {
        PeriodicTimer timer(Seconds{0.25});
        while (co_await timer.next()) {
            progress.show(present(), downloader->transferProgress().bytesWritten);
        }
    });
    loop.run();
    drawing.cancel();
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (downloader->transferProgress().tasksScheduled > 0) {
        report(progress, present(), downloader->transferProgress().bytesWritten);
    }
}

/// `somnara sounds status`: the downloads' state and which sounds play from a lossless copy.
void status() {
    RealLoop loop;
    const auto bucket = BucketConfiguration::load();
    const auto downloader = makeDownloader(bucket);
    const auto present = soundCount - downloader->missingSoundsCount();
    const auto state = SoundsDownloader::State::fromProgress(static_cast<float>(present) / soundCount);
    std::cout << "state: " << (state ? state->description() : "unknown") << '\n'
              << "lossless: " << present << " of " << soundCount << " in "
              << downloader->soundsDirectory().string() << '\n'
              << "bucket: " << (bucket ? bucket->baseURL + " (" + bucket->region + ")" : "none configured")
              << '\n';
    for (const auto soundTrack : SoundTrack::allCases()) {
        const bool lossless = std::filesystem::exists(downloader->soundsDirectory() /
                                                      (std::string(soundTrack.fileName()) + ".m4a"));
        std::cout << "  " << padded(soundTrack.identifier(), 16) << (lossless ? "lossless" : "compressed")
                  << '\n';
    }
}

/// `somnara sounds clear`: removes the downloaded copies.
void clear() {
    if (const auto daemon = runningDaemon()) {
        daemon->call(bus::downloadsInterface, "Clear", std::tuple{});
        std::cout << "Removed the daemon's lossless copies\n";
        return;
    }
    RealLoop loop;
    const auto downloader = makeDownloader(BucketConfiguration::load());
    auto clearing = downloader->clearCacheDirectory();
    loop.context().restart();
    while (loop.context().poll() > 0) {
    }
    std::cout << "Removed " << downloader->soundsDirectory().string() << '\n';
}

} // namespace

void addSoundsCommand(CLI::App& app) {
    auto* command =
        app.add_subcommand("sounds", "List the fifty sounds of the catalogue, or search them by name");
    auto term = std::make_shared<std::string>();
    command
        ->add_option("--search,-s", *term, "Show only the sounds whose name matches TERM, best match first")
        ->option_text("TERM");
    command
        ->add_subcommand("download", "Download the lossless copies of the sounds now, showing the progress")
        ->callback(download);
    command->add_subcommand("status", "Show which sounds play from a lossless copy")->callback(status);
    command->add_subcommand("clear", "Remove the downloaded lossless copies")->callback(clear);
    command->callback([command, term] {
        if (!command->get_subcommands().empty()) {
            return;
        }
        const std::vector<SoundTrack> all(SoundTrack::allCases().begin(), SoundTrack::allCases().end());
        if (command->count("--search") == 0) {
            printTable(all, nullptr);
            return;
        }
        const SoundTracksStore store(all);
        const auto matches = store.searchMultiple(*term);
        if (matches.empty()) {
            std::cerr << "somnara: no sound matches \"" << *term << "\"\n";
            throw CLI::RuntimeError(1);
        }
        printTable(matches, term.get());
    });
}

} // namespace somnara::app
