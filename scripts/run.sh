#!/usr/bin/env bash
# Installs what is missing, builds, and runs the app's main job on its embedded defaults.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
exec "$root/build/release/app/somnara" sounds "$@"
