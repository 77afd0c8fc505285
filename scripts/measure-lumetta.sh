#!/usr/bin/env bash
# Measures lumetta on the demo package against a browser playing the same
# page with the same player and settings (Debian's chromium, software
# rendering, kiosk), each under an Xvfb of the screen size measured:
#
# - first frame: seconds from start until the middle row of the screen
#   shows the program (any pixel differing from the row's first), seen from
#   outside by the same X poller for both, and the CPU (all processes)
#   spent until then;
# - CPU while playing, in % of one core, for the whole process tree (for
#   lumetta also split into lumetta and its web engine), and apart from it
#   the X server's, which draws what either side puts on the screen;
# - frames shown per second meanwhile, counted from outside by the X
#   server's damage reports on the screen (updates less than 8 ms apart
#   count as one), so that a side drawing fewer frames is seen, and the CPU
#   per frame shown.
#
#   scripts/measure-lumetta.sh [--root DIR] [RUNS] [CPU_SECONDS] [SIZES]    (after make build)
#
# --root DIR measures inside the Debian root DIR (packaging/debian-root.sh
# makes it when missing, e.g. /var/cache/lumetta-test/trixie for Debian 13,
# and adds that release's chromium): the .deb of this build (make deb) is
# installed there with apt and its /usr/bin/lumetta is measured against the
# root's own browser, X server and libraries.
#
# SIZES defaults to "800x600 1920x1080". Each run starts lumetta and then
# the browser, so that both meet the same load; the summary gives medians
# and the spread (min-max) and the ratio lumetta / browser.
# Both, and the X server, run at niceness $MEASURE_NICE (default -10, when allowed) so that a
# busy machine's other work throttles them less; the figures are still
# noisy then, and only a comparison within one run means much.
# Extra environment (e.g. JSC_ options) is passed on to lumetta, and
# LUMETTA_ARGS adds options. LUMETTA names another lumetta binary (say, an
# older build) to compare. PEER=none measures lumetta alone.
# The browser comes from scripts/install-deps.sh measure.
set -euo pipefail

if [[ ${1-} == --root ]]; then
  [[ $# -ge 2 ]] || { echo "measure-lumetta: --root needs a folder" >&2; exit 2; }
  root_dir=$(realpath -m "$2")
  shift 2
  checkout=$(cd "$(dirname "$0")/.." && pwd)
  build_dir=$(realpath "${BUILD_DIR:-build/default}")
  # make deb's, or the one the package test made.
  deb=$(ls "$build_dir"/lumetta_*_amd64.deb "$build_dir"/packaging/deb/lumetta_*_amd64.deb 2>/dev/null |
        head -1 || true)
  [[ -n $deb ]] || { echo "measure-lumetta: no package in $build_dir; run make deb" >&2; exit 1; }
  forwarded=(--env "BUILD_DIR=$build_dir" --env LUMETTA=/usr/bin/lumetta)
  for name in MEASURE_NICE PEER LUMETTA_ARGS; do
    [[ -n ${!name-} ]] && forwarded+=(--env "$name=${!name}")
  done
  echo "measure-lumetta: inside $root_dir ($deb installed there)"
  LUMETTA_TEST_ROOT=$root_dir exec bash "$checkout/packaging/debian-root.sh" run --measure \
    --deb "$deb" --bind "$checkout" --bind "$build_dir" "${forwarded[@]}" \
    -- bash "$checkout/scripts/measure-lumetta.sh" "$@"
fi

runs=${1:-3}
cpu_seconds=${2:-10}
sizes=${3:-800x600 1920x1080}
build=${BUILD_DIR:-build/default}
lumetta=${LUMETTA:-$build/saver/lumetta}
peer_page=$build/saver/lumetta_peer_page
resources=$build/demo/resources
share=$build/saver/share
peer=${PEER:-chromium}
hz=$(getconf CLK_TCK)

for tool in "$lumetta" "$peer_page"; do
  [[ -x $tool ]] || { echo "measure-lumetta: $tool is missing; run make build" >&2; exit 1; }
done
if [[ $peer != none ]] && ! command -v "$peer" >/dev/null; then
  echo "measure-lumetta: no $peer; scripts/install-deps.sh measure installs it (or PEER=none)" >&2
  exit 1
fi

work=$(mktemp -d)
xvfb=
server=
running=
cleanup() {
  [[ -n $running ]] && stop_tree "$running"
  [[ -n $server ]] && kill "$server" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The peer's site: the same player files and the demo's main program (the
# one packed into the demo package).
mkdir -p "$work/site"
ln -s "$(realpath "$share/ruffle")" "$work/site/ruffle"
cp "$build/demo/swf/main.swf" "$work/site/full.swf"
port_file=$work/port
python3 -u - "$work/site" >"$port_file" 2>/dev/null <<'EOF' &
import http.server, functools, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
handler.func.log_message = lambda *args: None
handler.func.extensions_map[".wasm"] = "application/wasm"
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1])
server.serve_forever()
EOF
server=$!
for _ in $(seq 100); do [[ -s $port_file ]] && break; sleep 0.1; done
base=http://127.0.0.1:$(cat "$port_file")/
"$peer_page" "$base" >"$work/site/index.html"

# Waits until the middle row of the screen shows something other than one
# colour (leaving out a twentieth at each end, where window edges are);
# prints the seconds since START (epoch seconds) and the CPU seconds
# the process tree of PID spent until then. Polls every 40 ms, as cheaply
# as X allows: one row.
cat >"$work/first-frame.py" <<'EOF'
import ctypes, os, sys, time
start, pid, limit = float(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                        ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x.XGetImage.restype = ctypes.POINTER(ctypes.c_int)
x.XFree.argtypes = [ctypes.c_void_p]
display = x.XOpenDisplay(None)
root = x.XDefaultRootWindow(display)
width, height = int(sys.argv[4]), int(sys.argv[5])
ticks = os.sysconf("SC_CLK_TCK")

def tree_ticks(p):
    total = 0
    try:
        with open(f"/proc/{p}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        total = int(fields[11]) + int(fields[12])
        for task in os.listdir(f"/proc/{p}/task"):
            with open(f"/proc/{p}/task/{task}/children") as f:
                total += sum(tree_ticks(int(c)) for c in f.read().split())
    except (OSError, IndexError):
        pass
    return total

def drawn():
    image = x.XGetImage(display, root, 0, height // 2, width, 1, 0xFFFFFFFF, 2)  # ZPixmap
    if not image:
        return False
    data = ctypes.cast(ctypes.cast(image, ctypes.POINTER(ctypes.c_void_p))[2],
                       ctypes.POINTER(ctypes.c_uint32))
    row = data[width // 20:width - width // 20]
    x.XFree(ctypes.cast(image, ctypes.POINTER(ctypes.c_void_p))[2])
    x.XFree(image)
    first = row[0]
    def differs(b):
        return sum(abs(((first >> s) & 255) - ((b >> s) & 255)) for s in (0, 8, 16)) > 48
    return any(differs(b) for b in row[1:] if b != first)

while time.time() - start < limit:
    if drawn():
        print(f"{time.time() - start:.2f} {tree_ticks(pid) / ticks:.2f}")
        sys.exit(0)
    time.sleep(0.04)
print("- -")
EOF

# Counts the frames shown on the screen for SECONDS: the X server reports
# damage once after each time it is told that was seen.
cat >"$work/frames.py" <<'EOF'
import ctypes, sys, time
seconds = float(sys.argv[1])
x = ctypes.CDLL("libX11.so.6")
damage_lib = ctypes.CDLL("libXdamage.so.1")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XPending.argtypes = [ctypes.c_void_p]
x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
damage_lib.XDamageQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
damage_lib.XDamageCreate.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]
damage_lib.XDamageCreate.restype = ctypes.c_ulong
damage_lib.XDamageSubtract.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
display = x.XOpenDisplay(None)
event_base, error_base = ctypes.c_int(), ctypes.c_int()
if not display or not damage_lib.XDamageQueryExtension(display, ctypes.byref(event_base), ctypes.byref(error_base)):
    print("-"); sys.exit(0)
damage = damage_lib.XDamageCreate(display, x.XDefaultRootWindow(display), 3)  # report non-empty
event = (ctypes.c_long * 24)()
frames, last = 0, 0.0
end = time.time() + seconds
while time.time() < end:
    if not x.XPending(display):
        time.sleep(0.001)
        continue
    x.XNextEvent(display, event)
    if ctypes.cast(event, ctypes.POINTER(ctypes.c_int))[0] != event_base.value:
        continue
    now = time.time()
    if now - last > 0.008:
        frames += 1
    last = now
    damage_lib.XDamageSubtract(display, damage, 0, 0)
    x.XFlush(display)
print(f"{frames / seconds:.1f}")
EOF

# Sum of utime+stime ticks of a process and all its descendants.
tree_ticks() {
  local pid=$1 total=0 child
  if [[ -r /proc/$pid/stat ]]; then
    total=$(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$pid/stat" 2>/dev/null || echo 0)
  fi
  for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
    total=$((total + $(tree_ticks "$child")))
  done
  echo "$total"
}

own_ticks() {
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat" 2>/dev/null || echo 0
}

# Every process of the tree, then waits for the top one.
tree_pids() {
  local child
  echo "$1"
  for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do tree_pids "$child"; done
}
stop_tree() {
  local pids
  pids=$(tree_pids "$1")
  # shellcheck disable=SC2086
  kill -TERM $pids 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  running=
}

percent() { awk -v t="$1" -v hz="$hz" -v s="$cpu_seconds" 'BEGIN { printf "%.1f", 100 * t / hz / s }'; }

# measure NAME WIDTH HEIGHT COMMAND...: one run; appends "NAME first cpu_first
# cpu fps [ui web]" to $results and prints a line.
measure() {
  local name=$1 width=$2 height=$3 start pid first cpu_first before after own_before own_after fps
  shift 3
  start=$(date +%s.%N)
  nice -n "${MEASURE_NICE:--10}" "$@" >"$work/$name.log" 2>&1 &
  pid=$!
  running=$pid
  read -r first cpu_first < <(python3 "$work/first-frame.py" "$start" "$pid" 120 "$width" "$height")
  if [[ $first == - ]]; then
    echo "  $name drew nothing in 120 s; its output ends:" >&2
    tail -5 "$work/$name.log" >&2
  fi
  sleep 1
  local x_before x_after
  before=$(tree_ticks "$pid"); own_before=$(own_ticks "$pid"); x_before=$(own_ticks "$xvfb")
  fps=$(python3 "$work/frames.py" "$cpu_seconds")
  after=$(tree_ticks "$pid"); own_after=$(own_ticks "$pid"); x_after=$(own_ticks "$xvfb")
  stop_tree "$pid"
  local cpu xcpu split=""
  cpu=$(percent $((after - before)))
  xcpu=$(percent $((x_after - x_before)))
  if [[ $name == lumetta ]]; then
    split=" $(percent $((own_after - own_before))) $(percent $((after - before - own_after + own_before)))"
  fi
  echo "$name $first $cpu_first $cpu $fps $xcpu" >>"$results"
  local parts=""
  if [[ $name == lumetta ]]; then
    # When the player's parts arrived, as lumetta reports them.
    parts=" [player element $(sed -n 's/^page: player (\([0-9.]*\) s)/\1/p' "$work/$name.log")"
    parts+=", core served $(sed -n 's/^served special:.*wasm (\([0-9.]*\) s)/\1/p' "$work/$name.log")"
    parts+=", program asked for $(sed -n 's/^served special:.*full.swf (\([0-9.]*\) s)/\1/p' "$work/$name.log")"
    parts+=", loaded $(sed -n 's/^page: loaded .*(\([0-9.]*\) s)/\1/p' "$work/$name.log")]"
    split=" (lumetta $(cut -d' ' -f2 <<<"$split") %, web engine $(cut -d' ' -f3 <<<"$split") %)"
  fi
  printf '  %-8s first frame %s s (CPU %s s), CPU while playing %s %% at %s frames/s%s, its X server %s %%%s\n' \
    "$name" "$first" "$cpu_first" "$cpu" "$fps" "$split" "$xcpu" "$parts"
}

summary=$work/summary
for size in $sizes; do
  width=${size%x*}
  height=${size#*x}
  results=$work/results-$size
  : >"$results"
  exec 3>"$work/display"
  # At the sides' niceness: an X server behind them works harder per frame
  # (about twice, for lumetta at 1920x1080), which would be charged to them.
  nice -n "${MEASURE_NICE:--10}" Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp \
    >/dev/null 2>&1 &
  xvfb=$!
  exec 3>&-
  for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$work/display")
  : >"$work/display"
  echo "screen ${width}x${height}:"
  for i in $(seq "$runs"); do
    echo " run $i (load $(cut -d' ' -f1 /proc/loadavg)):"
    # shellcheck disable=SC2086
    measure lumetta "$width" "$height" "$lumetta" --platform gtk --resources "$resources" \
      --window-size "${width}x${height}" ${LUMETTA_ARGS:-} --seconds $((cpu_seconds + 150))
    if [[ $peer != none ]]; then
      rm -rf "$work/profile"
      measure "$peer" "$width" "$height" env -u JSC_useBBQJIT "$peer" --disable-gpu --kiosk \
        --no-sandbox --test-type --disable-background-networking --disable-component-update \
        --disable-sync --no-first-run --user-data-dir="$work/profile" \
        --window-position=0,0 --window-size="$width,$height" "${base}index.html"
    fi
  done
  kill "$xvfb"; wait "$xvfb" 2>/dev/null || true; xvfb=
  awk -v size="$size" -v peer="$peer" '
    function sort(a, n,   i, j, t) { for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j-1] > a[j]; j--) { t = a[j]; a[j] = a[j-1]; a[j-1] = t } }
    function median(a, n) { sort(a, n); return n % 2 ? a[(n+1)/2] : (a[n/2] + a[n/2+1]) / 2 }
    function spread(a, n) { sort(a, n); return sprintf("%s-%s", a[1], a[n]) }
    {
      k = ++n[$1]; v[$1, 1, k] = $2; v[$1, 2, k] = $3; v[$1, 3, k] = $4; v[$1, 4, k] = $5
      v[$1, 5, k] = $5 > 0 ? sprintf("%.1f", 10 * $4 / $5) + 0 : "-"
      v[$1, 6, k] = $6; v[$1, 7, k] = $4 + $6
    }
    function column(who, what,   a, i) {
      for (i = 1; i <= n[who]; i++) a[i] = v[who, what, i]
      m[who, what] = median(a, n[who]); s[who, what] = spread(a, n[who])
    }
    END {
      for (w = 1; w <= 7; w++) { column("lumetta", w); if (n[peer]) column(peer, w) }
      split("first frame (s)|CPU to first frame (s)|CPU while playing (% of a core)|frames shown per second|CPU per frame shown (ms)|X server CPU (% of a core)|CPU with X server (% of a core)", label, "|")
      printf "%-10s %-32s %-18s %-18s %s\n", size, "median (min-max)", "lumetta", peer, "lumetta/" peer
      for (w = 1; w <= 7; w++) {
        ratio = (n[peer] && m[peer, w] > 0) ? sprintf("%.2f", m["lumetta", w] / m[peer, w]) : "-"
        printf "%-10s %-32s %-18s %-18s %s\n", "", label[w], m["lumetta", w] " (" s["lumetta", w] ")",
               n[peer] ? m[peer, w] " (" s[peer, w] ")" : "-", ratio
      }
    }' "$results" >>"$summary"
done
echo
cat "$summary"
