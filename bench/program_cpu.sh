#!/usr/bin/env bash
# Runs the program against the simulated SMC for a while with the window shown, then again
# started hidden ("/minimized"), and prints the CPU time and the memory each run used: drawing
# off-screen, and under a real X server (a private Xvfb) when Xvfb is installed, since the X11
# platform is where the program loads the most.
#   bench/program_cpu.sh [BUILD_DIR] [SECONDS] [PROFILE]
# Defaults: build, 60 seconds, MacPro4,1. Uses its own home folder, so the user's settings are
# never touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-60}
profile=${3:-MacPro4,1}
bin="$build/bin"
for tool in thermora thermora-smcsim; do
    [ -x "$bin/$tool" ] || { echo "missing $bin/$tool: build first" >&2; exit 1; }
done
# A tool without its write rights makes the program ask and warn before it starts its workers.
if [ "$(id -u)" = 0 ]; then
    chown root:root "$bin/smc" && chmod 4555 "$bin/smc"
fi

work=$(mktemp -d -t thermora-bench.XXXXXX)
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
xvfb=

socket="$XDG_RUNTIME_DIR/smcsim.sock"
"$bin/thermora-smcsim" --socket "$socket" --profile "$profile" >"$work/sim.log" 2>&1 &
sim=$!
cleanup() {
    kill "$sim" $xvfb 2>/dev/null || true
    wait "$sim" $xvfb 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 1 100); do
    [ -s "$work/sim.log" ] && break
    kill -0 "$sim" 2>/dev/null || { cat "$work/sim.log" >&2; exit 1; }
    sleep 0.05
done
export THERMORA_SMC_SOCKET="$socket"

ticks=$(getconf CLK_TCK)

# CPU seconds (user + system) of a process from /proc/<pid>/stat. The command name in
# parentheses may hold blanks, so the fields are counted after its closing parenthesis.
cpu_seconds() {
    local rest
    rest=$(sed 's/^.*) //' "/proc/$1/stat")
    # After the name: field 3 is the state, so utime (14) and stime (15) are words 12 and 13.
    awk -v t="$ticks" '{ printf "%.2f", ($12 + $13) / t }' <<<"$rest"
}

status_kb() {
    awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"
}

run() {
    local label=$1
    shift
    local sim_before
    sim_before=$(cpu_seconds "$sim")
    "$bin/thermora" "$@" >"$work/program.log" 2>&1 &
    local pid=$!
    sleep "$seconds"
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "$label: the program left early:" >&2
        cat "$work/program.log" >&2
        return 1
    fi
    local cpu rss hwm sim_cpu
    cpu=$(cpu_seconds "$pid")
    rss=$(status_kb "$pid" VmRSS)
    hwm=$(status_kb "$pid" VmHWM)
    sim_cpu=$(awk -v a="$(cpu_seconds "$sim")" -v b="$sim_before" 'BEGIN { printf "%.2f", a - b }')
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    printf "%-8s %8s %10s %8.2f%% %10s %10s %12s\n" "$label" "$seconds" "$cpu" \
        "$(awk -v c="$cpu" -v s="$seconds" 'BEGIN { print 100 * c / s }')" "$rss" "$hwm" "$sim_cpu"
}

header() {
    echo "profile $profile, $seconds s per run, platform $1"
    printf "%-8s %8s %10s %9s %10s %10s %12s\n" "window" "seconds" "cpu_s" "cpu" "rss_kb" \
        "peak_kb" "sim_cpu_s"
}

header offscreen
QT_QPA_PLATFORM=offscreen run shown
QT_QPA_PLATFORM=offscreen run hidden /minimized

if ! command -v Xvfb >/dev/null 2>&1; then
    echo "xcb: Xvfb not installed, skipped"
    exit 0
fi
# Xvfb picks a free display number and writes it to the descriptor it is given.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
header "xcb (Xvfb $DISPLAY)"
QT_QPA_PLATFORM=xcb run shown
QT_QPA_PLATFORM=xcb run hidden /minimized
