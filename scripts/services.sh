#!/usr/bin/env bash
# Starts the private servers the integration tests talk to: a session D-Bus and a PulseAudio daemon
# with two null sinks (out, out2) whose monitors the tests record. Source it:
#   source scripts/services.sh && services_start ... services_stop
# Each server that cannot start is reported and left out; its tests then skip with a message.

services_start() {
    export HOME=${HOME:-/root}
    SOMNARA_SERVICES_DIR=$(mktemp -d /tmp/somnara-services.XXXXXX)
    chmod 700 "$SOMNARA_SERVICES_DIR"
    export XDG_RUNTIME_DIR=$SOMNARA_SERVICES_DIR
    if command -v dbus-daemon >/dev/null; then
        local out
        out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
        export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$out")
        SOMNARA_DBUS_PID=$(sed -n 2p <<<"$out")
    fi
    if command -v pulseaudio >/dev/null; then
        if services_start_pulse; then
            export SOMNARA_TEST_PULSE=1
        else
            echo "services: PulseAudio did not start; its tests will skip" >&2
        fi
    fi
}

# Starts the PulseAudio daemon of $XDG_RUNTIME_DIR; tests that kill it start it again with this.
services_start_pulse() {
    pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit=yes -n \
        --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=out norewinds=1" \
        --load="module-null-sink sink_name=out2 norewinds=1" \
        --load=module-role-cork 2>/dev/null || true
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl info >/dev/null 2>&1 && pactl set-default-sink out
}

services_stop() {
    [[ -n "${SOMNARA_SERVICES_DIR:-}" ]] || return 0
    [[ -f "$SOMNARA_SERVICES_DIR/pulse/pid" ]] && kill "$(cat "$SOMNARA_SERVICES_DIR/pulse/pid")" 2>/dev/null
    [[ -n "${SOMNARA_DBUS_PID:-}" ]] && kill "$SOMNARA_DBUS_PID" 2>/dev/null
    rm -rf "$SOMNARA_SERVICES_DIR"
    unset SOMNARA_SERVICES_DIR SOMNARA_DBUS_PID SOMNARA_TEST_PULSE
    return 0
}
