#!/usr/bin/env bash
# Installs what is missing, builds, and plays: starts the daemon from the build tree and plays a mix of
# rain, waves and a distant fan through your sound server for a minute, or until Ctrl-C. Where no sound
# server answers it says so and renders the mix into build/mix.flac instead.
#   scripts/run.sh              the default mix
#   scripts/run.sh SOUND...     these sounds at full volume
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
somnara=$root/build/release/app/somnara
sounds=("${@:-rain waves fan}")
# shellcheck disable=SC2206
sounds=(${sounds[*]})
volumes=()
(($# == 0)) && volumes=(--volume waves=0.6 --volume fan=0.3)

if ! pactl info >/dev/null 2>&1; then
    echo "run: no sound server answers (is PulseAudio or PipeWire running?); rendering the mix to build/mix.flac instead"
    exec "$somnara" render "${sounds[@]}" "${volumes[@]}" --duration 1m --output "$root/build/mix.flac"
fi

cleanup() {
    "$somnara" stop 2>/dev/null || true
    [[ -n "${daemon:-}" ]] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
    [[ -n "${bus:-}" ]] && kill "$bus" 2>/dev/null
    return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A desktop session has a bus; a plain shell gets a private one for this run.
if [[ -z "${DBUS_SESSION_BUS_ADDRESS:-}" && ! -S "${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]]; then
    out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
    export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$out")
    bus=$(sed -n 2p <<<"$out")
fi

has_daemon() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.somnara.Somnara 2>/dev/null | grep -q 'boolean true'
}
if has_daemon; then
    echo "run: a somnara daemon is already running; playing through it"
else
    "$somnara" daemon &
    daemon=$!
    for _ in $(seq 100); do has_daemon && break; sleep 0.1; done
fi

"$somnara" select "${sounds[@]}"
for setting in "${volumes[@]}"; do
    [[ $setting == --volume ]] && continue
    "$somnara" volume "${setting%%=*}" "${setting#*=}"
done
"$somnara" play
echo "Playing $("$somnara" status --json | sed -n 's/^  "name": "\(.*\)",$/\1/p') for a minute: Ctrl-C stops it (so does \`$somnara stop\`)."
sleep 60
