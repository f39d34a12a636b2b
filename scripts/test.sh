#!/usr/bin/env bash
# Installs what is missing, builds from scratch with warnings as errors, checks the formatting and
# runs every test (unit, render, integration) with the integration servers started.
#   scripts/test.sh            release build
#   scripts/test.sh asan|tsan  the same under a sanitizer
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-release}
"$root/scripts/setup.sh"
"$root/scripts/format.sh" --check
"$root/scripts/build.sh" "$preset"
source "$root/scripts/services.sh"
services_start
trap services_stop EXIT
cd "$root/build/$preset"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
