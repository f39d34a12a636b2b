#!/usr/bin/env bash
# Runs the engine's full-chain benchmark and the SoX and GStreamer peers on the same work, in one
# session, and prints CPU seconds and the ratios. The peers' scripts live in the team's shared folder
# (read-only); their loops are generated into a writable folder first.
#
#   bench/run-peers.sh [SECONDS] [N...]        default: 600 s, N = 1 4 8
#   bench/run-peers.sh --realtime [SECONDS] [N...]
#                                              default: 60 s, N = 3 8: the daemon playing N sounds
#                                              through the chain with a slow pan into a PulseAudio null
#                                              sink, against GStreamer playing the chain into pulsesink
#   BUILD=build/release PEERS=/work/shared/bench-peers MATERIAL=/tmp/peer-material bench/run-peers.sh
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [[ ${1:-} == --realtime ]]; then
    shift
    exec "$ROOT/bench/run-realtime.sh" "$@"
fi
SECONDS_OUT=${1:-600}
shift || true
COUNTS=("${@:-1 4 8}")
# shellcheck disable=SC2206
COUNTS=(${COUNTS[*]})
BUILD=${BUILD:-$ROOT/build/release}
PEERS=${PEERS:-/work/shared/bench-peers}
export MATERIAL=${MATERIAL:-/tmp/peer-material}
BENCH=$BUILD/bench/bench_engine_chain

if [[ ! -x $BENCH ]]; then
    echo "run-peers: $BENCH is missing; build it first (cmake --build $BUILD --target bench_engine_chain)" >&2
    exit 1
fi

have_peers=1
if [[ ! -d $PEERS ]]; then
    echo "run-peers: no peer scripts at $PEERS (set PEERS=...); measuring the engine alone" >&2
    have_peers=0
elif [[ ! -f $MATERIAL/08-fan.wav ]]; then
    echo "run-peers: generating the peers' loops into $MATERIAL" >&2
    "$PEERS/gen-material.sh" "$MATERIAL" >&2
fi

declare -A engine_cpu sox_cpu gst_cpu
for n in "${COUNTS[@]}"; do
    line=$(SOMNARA_BENCH_SECONDS=$SECONDS_OUT "$BENCH" --benchmark_filter="fullChainOffline/$n/" \
        --benchmark_format=console 2>/dev/null | grep "fullChainOffline/$n/")
    engine_cpu[$n]=$(sed -n 's/.*cpu_s=\([0-9.e+-]*\)\([kmu]*\).*/\1\2/p' <<<"$line")
    engine_cpu[$n]=$(awk -v v="${engine_cpu[$n]}" 'BEGIN {
        m = 1; if (v ~ /m$/) m = 1e-3; else if (v ~ /u$/) m = 1e-6; else if (v ~ /k$/) m = 1e3;
        sub(/[kmu]$/, "", v); printf "%.3f", v * m }')
    echo "engine n=$n seconds=$SECONDS_OUT cpu_s=${engine_cpu[$n]}"
    if (( have_peers )); then
        # A peer that cannot run (tool not installed) is reported and left out of the ratios.
        sox_line=$(OUT=null "$PEERS/peer-sox.sh" "$n" "$SECONDS_OUT" | grep '^peer' || true)
        gst_line=$(OUT=null "$PEERS/peer-gst.sh" "$n" "$SECONDS_OUT" | grep '^peer' || true)
        echo "${sox_line:-peer tool=sox n=$n failed (is sox installed?)}"
        echo "${gst_line:-peer tool=gst n=$n failed (is gst-launch-1.0 installed?)}"
        sox_cpu[$n]=$(sed -n 's/.*cpu_s=\([0-9.]*\).*/\1/p' <<<"$sox_line")
        gst_cpu[$n]=$(sed -n 's/.*cpu_s=\([0-9.]*\).*/\1/p' <<<"$gst_line")
        sox_cpu[$n]=${sox_cpu[$n]:-nan}
        gst_cpu[$n]=${gst_cpu[$n]:-nan}
    fi
done

echo
printf '%-3s %12s %12s %12s %10s %10s\n' N engine_cpu_s sox_cpu_s gst_cpu_s sox/engine gst/engine
for n in "${COUNTS[@]}"; do
    if (( have_peers )); then
        awk -v n="$n" -v e="${engine_cpu[$n]}" -v s="${sox_cpu[$n]}" -v g="${gst_cpu[$n]}" \
            'function show(v) { return v == "nan" ? "-" : sprintf("%.2f", v) }
             function ratio(v) { return v == "nan" ? "-" : sprintf("%.1f", v / e) }
             BEGIN { printf "%-3s %12.3f %12s %12s %10s %10s\n", n, e, show(s), show(g), ratio(s), ratio(g) }'
    else
        printf '%-3s %12.3f %12s %12s %10s %10s\n' "$n" "${engine_cpu[$n]}" - - - -
    fi
done
