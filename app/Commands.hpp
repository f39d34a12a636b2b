#pragma once

#include <CLI/CLI.hpp>

// Every subcommand of the somnara program registers itself here; each lives in its own file.
namespace somnara::app {

/// `somnara sounds [--search TERM]`: the catalogue as a table, or the sounds matching a term;
/// `somnara sounds download | status | clear`: the lossless copies.
void addSoundsCommand(CLI::App& app);

/// `somnara favourites [list | add SOUND | remove SOUND] [--sync-folder DIR]`.
void addFavouritesCommand(CLI::App& app);
/// `somnara mixes [list | search TERM | delete NAME] [--sync-folder DIR]`.
void addMixesCommand(CLI::App& app);

/// `somnara stats [--json] [--at DATE]`: listening statistics from the play-events history.
void addStatsCommand(CLI::App& app);

/// `somnara status [--json]`, `select SOUND...`, `add SOUND`, `remove SOUND`, `mode single|multiple`,
/// `volume SOUND VALUE`, `next`, `previous`: the selection, each with `--sync-folder DIR`.
void addSelectionCommands(CLI::App& app);
/// `somnara mixes save [NAME]` and `somnara mixes select NAME`, added to the mixes command (register
/// after `addMixesCommand`).
void addMixesSelectionCommands(CLI::App& app);

/// `somnara settings [--json]`, `set NAME=VALUE...`, `preset NAME`, `reset [NAME]`: the sound settings
/// and fade timings, with their units and ranges.
void addSettingsCommand(CLI::App& app);

/// `somnara render SOUND... [--volume SOUND=V] [--duration D] [--output FILE] [--no-fades]`: a mix
/// rendered offline through the effects into a WAV or FLAC file, or raw float32 on standard output.
void addRenderCommand(CLI::App& app);

/// `somnara daemon [--verbose] [--device SINK]`: the process that owns the library and plays.
void addDaemonCommand(CLI::App& app);
/// `somnara play [SOUND...]`, `pause`, `stop`, `timer DURATION|cancel`: commands for the daemon.
void addPlayerCommands(CLI::App& app);
} // namespace somnara::app
