#!/usr/bin/env bash
# Measures lumetta on the demo package under an Xvfb of its own: the time
# from start to the first frame the player draws (as lumetta reports it,
# from its process start), and the CPU that lumetta and its web engine
# processes use while the demo plays, in % of one core.
#
#   scripts/measure-lumetta.sh [RUNS] [CPU_SECONDS]     (after make build)
# Extra environment (e.g. JSC_ options) is passed on to lumetta, and
# LUMETTA_ARGS adds options (e.g. "--window-size 550x400").
set -euo pipefail

runs=${1:-5}
cpu_seconds=${2:-10}
build=${BUILD_DIR:-build/default}
lumetta=$build/saver/lumetta
resources=$build/demo/resources
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

# Sum of utime+stime ticks of a process and all its descendants.
tree_ticks() {
  local pid=$1 total=0 child
  if [[ -r /proc/$pid/stat ]]; then
    total=$(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$pid/stat")
  fi
  for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
    total=$((total + $(tree_ticks "$child")))
  done
  echo "$total"
}

# utime+stime ticks of the lumetta (UI) process alone.
own_ticks() {
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat" 2>/dev/null || echo 0
}

hz=$(getconf CLK_TCK)
for i in $(seq "$runs"); do
  log=$work/run$i.log
  # shellcheck disable=SC2086
  "$lumetta" --platform gtk --resources "$resources" --snapshot "$work/shot$i.png" ${LUMETTA_ARGS:-} \
    --seconds $((cpu_seconds + 60)) >"$log" 2>&1 &
  pid=$!
  # CPU spent (all processes) by the time the first frame is seen: a
  # figure a busy machine disturbs less than the wall-clock time.
  for _ in $(seq 1200); do grep -q '^first frame' "$log" && break; sleep 0.05; done
  cpu_first=$(awk -v t="$(tree_ticks "$pid")" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }')
  for _ in $(seq 600); do grep -q '^snapshot:' "$log" && break; sleep 0.1; done
  first=$(sed -n 's/^first frame drawn after \([0-9.]*\) s/\1/p' "$log")
  wasm=$(sed -n 's/^served special:.*wasm (\([0-9.]*\) s)/\1/p' "$log")
  swf=$(sed -n 's/^served special:.*full.swf (\([0-9.]*\) s)/\1/p' "$log")
  loaded=$(sed -n 's/^page: loaded .*(\([0-9.]*\) s)/\1/p' "$log")
  player=$(sed -n 's/^page: player (\([0-9.]*\) s)/\1/p' "$log")
  sleep 1
  before=$(tree_ticks "$pid"); own_before=$(own_ticks "$pid")
  sleep "$cpu_seconds"
  after=$(tree_ticks "$pid"); own_after=$(own_ticks "$pid")
  kill -TERM "$pid"; wait "$pid" || true
  percent() { awk -v t="$1" -v hz="$hz" -v s="$cpu_seconds" 'BEGIN { printf "%.1f", 100 * t / hz / s }'; }
  cpu=$(percent $((after - before)))
  cpu_ui=$(percent $((own_after - own_before)))
  cpu_web=$(percent $((after - before - own_after + own_before)))
  echo "run $i: player element ${player:-?} s, wasm served ${wasm:-?} s, program asked for ${swf:-?} s, loaded ${loaded:-?} s, first frame ${first:-?} s (CPU ${cpu_first} s), CPU while playing ${cpu} % of a core (lumetta ${cpu_ui}, web engine ${cpu_web}), load $(cut -d' ' -f1 /proc/loadavg)"
done
