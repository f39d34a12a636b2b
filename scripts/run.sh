#!/usr/bin/env bash
# Installs what is missing, builds, and runs the app's main job on its embedded defaults: a mix of
# rain, waves and a distant fan rendered through the effects with the stored settings, one minute long,
# into build/mix.flac. Arguments replace the mix (see `somnara render --help`).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
if (($# == 0)); then
    set -- rain waves fan --volume waves=0.6 --volume fan=0.3 --duration 1m --output "$root/build/mix.flac"
fi
exec "$root/build/release/app/somnara" render "$@"
