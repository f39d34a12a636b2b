#include "Commands.hpp"

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/catalogue/SoundTracksStore.hpp>
#include <somnara/foundation/StringScore.hpp>

#include <algorithm>
#include <cstdio>
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

} // namespace

void addSoundsCommand(CLI::App& app) {
    auto* command =
        app.add_subcommand("sounds", "List the fifty sounds of the catalogue, or search them by name");
    auto term = std::make_shared<std::string>();
    command
        ->add_option("--search,-s", *term, "Show only the sounds whose name matches TERM, best match first")
        ->option_text("TERM");
    command->callback([command, term] {
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
