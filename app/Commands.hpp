#pragma once

#include <CLI/CLI.hpp>

// Every subcommand of the somnara program registers itself here; each lives in its own file.
namespace somnara::app {


} // namespace somnara::app
