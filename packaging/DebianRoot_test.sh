#!/usr/bin/env bash
# The Debian root's harness (debian-root.sh):
#   DebianRoot_test.sh cache   which cached roots are used and which are made
#                              again, with the archive out of reach (no
#                              network needed: a root that would be made
#                              again gives the skip instead);
#   DebianRoot_test.sh kill    a run killed with SIGKILL leaves nothing
#                              running (needs the made root).
# Exit 77 when it cannot run here (not root).
set -u
harness=$(dirname "$(realpath "$0")")/debian-root.sh
[[ $(id -u) -eq 0 ]] || { echo "SKIP: needs root privilege"; exit 77; }
command -v debootstrap >/dev/null || { echo "SKIP: debootstrap is not installed"; exit 77; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case ${1-} in
cache)
  # The list of packages a made root records (the harness's own).
  packages=$(sed -n '/^packages=(/,/^)/p' "$harness" | sed '1d;$d' | sed 's/#.*//' | xargs)
  marker_of() { printf 'made: x\npackages: %s\n' "$1"; }
  # case|state of the cached root|expected status|expected text on stderr
  cases=(
    "none|missing|77|the archive cannot be reached"
    "half-made|nomarker|77|the archive cannot be reached"
    "fresh|fresh|0|"
    "a week old|old|77|the archive cannot be reached"
    "other packages|otherpackages|77|the archive cannot be reached"
  )
  for entry in "${cases[@]}"; do
    IFS='|' read -r name state want_status want_text <<<"$entry"
    root=$scratch/$state/trixie
    mkdir -p "$(dirname "$root")"
    case $state in
      missing) ;;
      nomarker) mkdir -p "$root/usr" ;;
      fresh) mkdir -p "$root"; marker_of "$packages" >"$root/.lumetta-root-made" ;;
      old) mkdir -p "$root"; marker_of "$packages" >"$root/.lumetta-root-made"
           touch -d '8 days ago' "$root/.lumetta-root-made" ;;
      otherpackages) mkdir -p "$root"; marker_of "xvfb" >"$root/.lumetta-root-made" ;;
    esac
    # Port 9 on this host: refused at once.
    LUMETTA_TEST_ROOT=$root LUMETTA_DEBIAN_MIRROR=http://127.0.0.1:9/debian \
      bash "$harness" ensure >"$scratch/out" 2>&1
    status=$?
    [[ $status -eq $want_status ]] || fail "$name: status $status, not $want_status: $(cat "$scratch/out")"
    if [[ -n $want_text ]] && ! grep -q "SKIP: .*$want_text" "$scratch/out"; then
      fail "$name: no skip saying '$want_text': $(cat "$scratch/out")"
    fi
    # What could not be made again is left as it was, not half-removed.
    [[ $state == nomarker && ! -d $root/usr ]] && fail "$name: the old root was removed before the archive answered"
  done
  ;;
kill)
  # A command that stays; SIGKILL to the harness must take it, and its
  # namespace with its mounts, away.
  token=lumetta-root-kill-test-$$
  bash "$harness" run -- bash -c "exec -a $token sleep 300" >"$scratch/out" 2>&1 &
  harness_pid=$!
  for _ in $(seq 300); do
    pgrep -f "^$token" >/dev/null && break
    kill -0 $harness_pid 2>/dev/null || break
    sleep 0.1
  done
  inner=$(pgrep -f "^$token" || true)
  if [[ -z $inner ]]; then
    wait $harness_pid
    status=$?
    [[ $status -eq 77 ]] && { cat "$scratch/out"; exit 77; }
    fail "the command never ran (status $status): $(cat "$scratch/out")"
  else
    ns=$(readlink "/proc/$inner/ns/mnt")
    [[ $ns != "$(readlink /proc/self/ns/mnt)" ]] || fail "the command runs in this mount namespace"
    # The run's processes, known before the kill: once the namespace is
    # gone its number may be given to another run's (tests run side by
    # side), so only these are looked for afterwards.
    members=()
    for proc in /proc/[0-9]*; do
      [[ $(readlink "$proc/ns/mnt" 2>/dev/null) == "$ns" ]] && members+=("${proc#/proc/}")
    done
    kill -KILL $harness_pid
    wait $harness_pid 2>/dev/null
    # No process of the run is left in that mount namespace, so its mounts
    # are gone; they are killed with the command, but may take a moment to
    # be reaped.
    left() {
      local pid
      for pid in "${members[@]}"; do
        [[ $(readlink "/proc/$pid/ns/mnt" 2>/dev/null) == "$ns" ]] && echo "$pid"
      done
      return 0
    }
    for _ in $(seq 50); do [[ -z $(left) ]] && break; sleep 0.1; done
    kill -0 "$inner" 2>/dev/null && { fail "the command still runs after the harness was killed"; kill "$inner"; }
    for pid in $(left); do
      fail "process $pid ($(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)) left in the run's namespace"
    done
  fi
  ;;
*) echo "usage: DebianRoot_test.sh cache|kill" >&2; exit 2 ;;
esac
[[ $failures -eq 0 ]] && echo "ok"
exit $((failures > 0))
