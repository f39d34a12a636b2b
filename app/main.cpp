#include "Commands.hpp"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    CLI::App app{"somnara: ambient sounds, mixes and sleep timers"};
    app.require_subcommand(1);
    somnara::app::addSoundsCommand(app);
    somnara::app::addFavouritesCommand(app);
    somnara::app::addMixesCommand(app);
    somnara::app::addStatsCommand(app);
    somnara::app::addSelectionCommands(app);
    somnara::app::addMixesSelectionCommands(app);
    somnara::app::addRenderCommand(app);
    somnara::app::addPlayerCommands(app);
    somnara::app::addDaemonCommand(app);
    somnara::app::addSettingsCommand(app);
    // "-DONTLOGANALYTICS" is a launch argument that the analytics code reads from the process's own
    // arguments; no command takes it, so the parser must not see it.
    std::vector<char*> arguments(argv, argv + argc);
    std::erase_if(arguments,
                  [](const char* argument) { return std::string_view(argument) == "-DONTLOGANALYTICS"; });
    try {
        app.parse(static_cast<int>(arguments.size()), arguments.data());
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    } catch (const std::exception& error) {
        std::cerr << "somnara: " << error.what() << '\n';
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
