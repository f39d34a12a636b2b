#pragma once

#include <CLI/CLI.hpp>

// Every subcommand of the somnara program registers itself here; each lives in its own file.
namespace somnara::app {

/// `somnara sounds [--search TERM]`: the catalogue as a table, or the sounds matching a term.
void addSoundsCommand(CLI::App& app);

/// `somnara favourites [list | add SOUND | remove SOUND] [--sync-folder DIR]`.
void addFavouritesCommand(CLI::App& app);
/// `somnara mixes [list | search TERM | delete NAME] [--sync-folder DIR]`.
void addMixesCommand(CLI::App& app);

/// `somnara stats [--json] [--at DATE]`: listening statistics from the play-events history.
void addStatsCommand(CLI::App& app);

} // namespace somnara::app
