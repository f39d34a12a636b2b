#!/usr/bin/env bash
# The real-time run of run-peers.sh: the somnara daemon playing N sounds through the peers' chain
# (pitch -300 cents, varispeed 0.9, echo, reverb, EQ, master 0.8) with a slow pan into a PulseAudio
# null sink, then GStreamer playing the same chain into pulsesink, each for SECONDS of real time on a
# private PulseAudio and bus (scripts/services.sh). Prints, per player, CPU (user + system, % of a
# core), voluntary context switches per second and resident memory at the end, measured from /proc
# after the first fade-in.
#
#   bench/run-realtime.sh [SECONDS] [N...]      default: 60 s, N = 3 8
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SECONDS_OUT=${1:-60}
shift || true
COUNTS=("${@:-3 8}")
# shellcheck disable=SC2206
COUNTS=(${COUNTS[*]})
BUILD=${BUILD:-$ROOT/build/release}
PEERS=${PEERS:-/work/shared/bench-peers}
export MATERIAL=${MATERIAL:-/tmp/peer-material}
SOMNARA=$BUILD/app/somnara
SOUNDS=(rain waves fan wind river fire birds thunder)
VOLUMES=(0.8 0.6 0.7 0.5 0.9 0.4 0.65 0.55)
TICKS=$(getconf CLK_TCK)

[[ -x $SOMNARA ]] || { echo "run-realtime: build $SOMNARA first" >&2; exit 1; }
source "$ROOT/scripts/services.sh"
services_start
[[ -n ${SOMNARA_TEST_PULSE:-} ]] || { echo "run-realtime: PulseAudio did not start" >&2; exit 1; }
home=$(mktemp -d)
daemon=
cleanup() {
    [[ -n $daemon ]] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
    rm -rf "$home"
    services_stop
}
trap cleanup EXIT

# cpu_ticks PID, switches PID (every thread's), rss_kb PID: from /proc.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
switches() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

# measure NAME PID: waits SECONDS_OUT and prints one result line for the process.
measure() {
    local name=$1 pid=$2 n=$3 cpu0 sw0 cpu1 sw1 rss
    cpu0=$(cpu_ticks "$pid")
    sw0=$(switches "$pid")
    sleep "$SECONDS_OUT"
    cpu1=$(cpu_ticks "$pid")
    sw1=$(switches "$pid")
    rss=$(rss_kb "$pid")
    awk -v name="$name" -v n="$n" -v c="$((cpu1 - cpu0))" -v t="$TICKS" -v s="$((sw1 - sw0))" -v r="$rss" \
        -v d="$SECONDS_OUT" 'BEGIN { printf "realtime player=%s n=%d seconds=%d cpu_percent=%.2f wakeups_per_s=%.1f rss_mb=%.1f\n",
                                     name, n, d, 100 * c / t / d, s / d, r / 1024 }'
}

dbus_call() { # INTERFACE METHOD [ARG...]: a method of the daemon's object, its reply printed
    local interface=$1 method=$2
    shift 2
    dbus-send --session --print-reply=literal --dest=org.somnara.Somnara /org/somnara/Somnara \
        "org.somnara.Somnara.$interface.$method" "$@"
}

export SOMNARA_HOME=$home
"$SOMNARA" daemon --verbose --device out 2>"$home/daemon.log" &
daemon=$!
for _ in $(seq 100); do dbus_call Player Status >/dev/null 2>&1 && break; sleep 0.1; done
# The peers' chain, with a slow pan sweep (10 s from side to side) the peers cannot do.
settings=$(dbus_call Settings Get | python3 -c '
import json, sys
s = json.loads(sys.stdin.read().strip())
s["soundSettings"].update({"volume": 0.8, "speed": 0.9, "reverb": 30, "pitch": -300,
    "equalizerGainLevels": [3, 0, -2, 0, 4, 0, -3, 0, 2, -6],
    "oscillation": {"rate": 10, "strength": 1}, "delay": {"time": 0.5, "feedback": 30, "mix": 20}})
print(json.dumps(s))')
dbus_call Settings Set "string:$settings" >/dev/null

if [[ ! -f $MATERIAL/08-fan.wav && -d $PEERS ]]; then
    echo "run-realtime: generating the peers' loops into $MATERIAL" >&2
    "$PEERS/gen-material.sh" "$MATERIAL" >&2
fi

for n in "${COUNTS[@]}"; do
    "$SOMNARA" select "${SOUNDS[@]:0:n}"
    for ((i = 0; i < n; i++)); do "$SOMNARA" volume "${SOUNDS[i]}" "${VOLUMES[i]}"; done
    "$SOMNARA" play
    sleep 3 # the start fade
    measure somnara "$daemon" "$n"
    "$SOMNARA" stop
    sleep 1

    if [[ -d $PEERS ]]; then
        # The peer's own pipeline, played in real time into the sink instead of rendered.
        pipeline=$(DRY_RUN=1 OUT=null "$PEERS/peer-gst.sh" "$n" "$((SECONDS_OUT + 10))" | sed 's/^gst-launch-1.0 -q //')
        pipeline=${pipeline/fakesink sync=false/pulsesink device=out}
        eval "gst-launch-1.0 -q $pipeline &"
        gst=$!
        sleep 3
        measure gstreamer "$gst" "$n"
        kill "$gst" 2>/dev/null
        wait "$gst" 2>/dev/null || true
    fi
done
kill "$daemon"
wait "$daemon" || true
daemon=
grep -h 'underruns' "$home/daemon.log" || true
