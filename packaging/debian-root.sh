#!/usr/bin/env bash
# A Debian root (Debian 13, trixie, unless told otherwise) for running the
# tests of the installed program on another release than the build's.
#
#   debian-root.sh ensure [measure]
#       Makes the root if it is missing, half-made or older than a week
#       ("measure" adds the browser scripts/measure-lumetta.sh compares with).
#   debian-root.sh run [--measure] [--deb FILE] [--bind DIR]... [--env NAME=VALUE]... -- COMMAND...
#       Runs COMMAND inside a throw-away copy of the root, after installing
#       FILE there with apt as a user would. DIRs appear at the same path
#       inside, so programs of the build tree find what was compiled into
#       them. Exits with COMMAND's status. --measure: ensure measure first.
#
# LUMETTA_TEST_ROOT names the root's folder, whose name is the release
# (default /var/cache/lumetta-test/trixie).
#
# Exit 77 (a skipped test) with the reason on standard error when the root
# cannot be had: Debian's archive cannot be reached, a package is missing
# from it, or there is no root privilege.
#
# The root is cached outside the checkout (LUMETTA_TEST_ROOT_CACHE, default
# /var/cache/lumetta-test) because making it takes minutes. The file
# .lumetta-root-made inside it is written last, so a root left half-made by
# a killed run is found and made again. Nothing is ever changed in a made
# root by `run`: each run gets an overlay on a tmpfs, and every mount (the
# overlay, /proc, /dev, /dev/shm, the binds) lives in a mount namespace of
# its own, in a PID namespace of its own whose processes all die with it:
# when the run ends, fails or is killed, nothing stays mounted or running.
set -euo pipefail

suite=${LUMETTA_TEST_SUITE:-trixie}
cache=${LUMETTA_TEST_ROOT_CACHE:-/var/cache/lumetta-test}
# Or the root's folder itself (its name is the release's).
if [[ -n ${LUMETTA_TEST_ROOT-} ]]; then
  cache=$(dirname "$LUMETTA_TEST_ROOT")
  suite=$(basename "$LUMETTA_TEST_ROOT")
fi
mirror=${LUMETTA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${LUMETTA_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
root=$cache/$suite
marker=$root/.lumetta-root-made
max_age_days=7

# What the tests need beside the package: an X server, the two screensaver
# daemons, a D-Bus session and gsettings for MATE's, and that release's
# lintian to judge the package by its checks. The package's own
# dependencies are installed too, so that installing it in a run needs no
# network.
packages=(
  xvfb xauth xscreensaver mate-screensaver dbus-daemon dbus-bin libglib2.0-bin lintian
  libwebkit2gtk-4.1-0 libgtk-3-0t64 libssl3t64 zlib1g
)
measure_packages=(chromium python3 procps)

skip() {
  echo "SKIP: Debian root ($suite): $*" >&2
  exit 77
}

need_root() {
  [[ $(id -u) -eq 0 ]] || skip "making and entering a root needs root privilege (run as root)"
  command -v debootstrap >/dev/null || skip "debootstrap is not installed (scripts/install-deps.sh installs it)"
  command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"
}

# apt's own proxy setting, for debootstrap's wget and the root's apt.
proxy=$(apt-config shell p Acquire::http::Proxy 2>/dev/null | sed -n "s/^p='\(.*\)'$/\1/p" || true)
[[ -n $proxy ]] && export http_proxy=${http_proxy:-$proxy}

archive_reachable() {
  wget -q -T 20 -t 2 -O /dev/null "$mirror/dists/$suite/InRelease"
}

fresh() {
  [[ -f $marker ]] || return 1
  [[ -z $(find "$marker" -mmin +$((max_age_days * 24 * 60))) ]] || return 1
  # Made for the same list of packages.
  [[ $(sed -n 's/^packages: //p' "$marker") == "${packages[*]}" ]]
}

in_root() {
  # What making the root runs in it: /proc for dpkg's scripts, nothing else.
  unshare --mount --propagation private -- bash -c '
    mount -t proc proc "$1/proc" && shift && exec chroot "$@"' - "$root" "$root" \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    ${http_proxy:+http_proxy=$http_proxy} LC_ALL=C.UTF-8 "$@"
}

# apt-get install in the root; a package missing from the archive is a
# skip that names it, any other failure is a failure.
root_install() {
  local log
  log=$(mktemp)
  if ! in_root apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1; then
    local missing
    missing=$(grep -oE "Unable to locate package [^ ]+|Package '?[^ ']+'? has no installation candidate" "$log" || true)
    if [[ -n $missing ]]; then
      tail -5 "$log" >&2
      rm -f "$log"
      skip "missing from the archive: $(echo "$missing" | paste -sd ';' -)"
    fi
    if grep -qE "Could not resolve|Failed to fetch|Temporary failure|Unable to connect" "$log"; then
      tail -5 "$log" >&2
      rm -f "$log"
      skip "the archive cannot be reached ($mirror)"
    fi
    cat "$log" >&2
    rm -f "$log"
    echo "debian-root: apt-get install $* failed in the root" >&2
    exit 1
  fi
  rm -f "$log"
}

make_root() {
  archive_reachable || skip "the archive cannot be reached ($mirror/dists/$suite)"
  echo "debian-root: making $root (debootstrap $suite, a few minutes)" >&2
  local started=$SECONDS
  rm -rf "$root"
  mkdir -p "$root"
  local log=$cache/$suite.debootstrap.log
  if ! debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$log" 2>&1; then
    tail -20 "$log" >&2
    if grep -qE "Couldn't download|Failed getting release|Temporary failure|Could not resolve" "$log"; then
      skip "the archive cannot be reached while making the root (see $log)"
    fi
    echo "debian-root: debootstrap failed (see $log)" >&2
    exit 1
  fi
  cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security_mirror $suite-security main
EOF
  cat >"$root/etc/apt/apt.conf.d/90lumetta-test" <<'EOF'
APT::Install-Recommends "false";
Acquire::Languages "none";
EOF
  # A root, not a system: no daemon is started by a package's scripts.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
  in_root apt-get update -q >/dev/null 2>&1 || skip "apt-get update fails in the root: the archive cannot be reached"
  in_root apt-get dist-upgrade -y -q >/dev/null 2>&1 || true
  root_install "${packages[@]}"
  in_root apt-get clean
  printf 'made: %s\npackages: %s\nseconds: %s\n' "$(date -u +%FT%TZ)" "${packages[*]}" \
    $((SECONDS - started)) >"$marker"
  echo "debian-root: made $root in $((SECONDS - started)) s ($(du -sh "$root" | cut -f1))" >&2
}

ensure() {
  need_root
  mkdir -p "$cache"
  exec 9>"$cache/$suite.lock"
  # Shared to look (runs hold it shared too); alone to make: one maker at a
  # time, and not while a run uses the root.
  flock -s 9
  if fresh && [[ ${1-} != measure || -f $root/.lumetta-measure-made ]]; then
    flock -u 9
    return 0
  fi
  flock -u 9
  flock 9
  if ! fresh; then
    make_root
  fi
  if [[ ${1-} == measure && ! -f $root/.lumetta-measure-made ]]; then
    echo "debian-root: adding ${measure_packages[*]} to $root" >&2
    in_root apt-get update -q >/dev/null 2>&1 || skip "the archive cannot be reached ($mirror)"
    root_install "${measure_packages[@]}"
    in_root apt-get clean
    date -u +%FT%TZ >"$root/.lumetta-measure-made"
  fi
  flock -u 9
}

# Inside the new namespaces (PID 1 of its own PID namespace): mounts the
# overlay and what a program needs, installs the package, runs the command.
inside() {
  local deb=$1 binds=$2 envs=$3
  shift 3
  # Every run mounts on the same folder, each in its own namespace.
  local base=$cache/$suite.mnt
  mkdir -p "$base"
  mount -t tmpfs -o size=4g,mode=0755 run "$base"
  mkdir -p "$base/upper" "$base/work" "$base/merged"
  mount -t overlay overlay -o "lowerdir=$root,upperdir=$base/upper,workdir=$base/work" "$base/merged"
  local m=$base/merged
  mount -t proc proc "$m/proc"
  mount --rbind /sys "$m/sys"
  mount --rbind /dev "$m/dev"
  mount -t tmpfs -o mode=1777 shm "$m/dev/shm"
  mount -t tmpfs -o mode=1777 tmp "$m/tmp"
  mount -t tmpfs -o mode=0755 run "$m/run"
  local dir
  while IFS= read -r dir; do
    [[ -n $dir ]] || continue
    mkdir -p "$m$dir"
    mount --rbind "$dir" "$m$dir"
  done <<<"$binds"
  if [[ -n $deb ]]; then
    cp "$deb" "$m/tmp/$(basename "$deb")"
    if ! chroot "$m" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" \
        >"$base/apt.log" 2>&1; then
      cat "$base/apt.log" >&2
      echo "debian-root: apt-get install ./$(basename "$deb") failed in the $suite root" >&2
      return 1
    fi
    rm -f "$m/tmp/$(basename "$deb")"
  fi
  local -a environment=(PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8
                        TMPDIR=/tmp LUMETTA_TEST_RELEASE="$suite")
  local e
  while IFS= read -r e; do
    [[ -n $e ]] && environment+=("$e")
  done <<<"$envs"
  # A network of its own, loopback only: X servers' abstract sockets are
  # per network namespace, and an Xvfb in here that took the name of one
  # of the host's displays would receive the host's clients (its display
  # numbers are chosen by lock files in this root's own /tmp).
  unshare --net -- bash -c 'ip link set lo up && exec chroot "$@"' bash \
    "$m" env -i "${environment[@]}" "$@"
}

run() {
  local deb="" binds="" envs="" group=""
  while [[ $# -gt 0 ]]; do
    case $1 in
      --measure) group=measure; shift ;;
      --deb) deb=$(realpath "$2"); shift 2 ;;
      --bind) binds+=$(realpath "$2")$'\n'; shift 2 ;;
      --env) envs+=$2$'\n'; shift 2 ;;
      --) shift; break ;;
      *) echo "debian-root: unknown option $1" >&2; exit 2 ;;
    esac
  done
  [[ $# -gt 0 ]] || { echo "debian-root: run needs a command after --" >&2; exit 2; }
  [[ -z $deb || -f $deb ]] || { echo "debian-root: no package $deb" >&2; exit 2; }
  ensure $group
  # Held shared for the whole run, so that the root is not remade under it.
  exec 9>"$cache/$suite.lock"
  flock -s 9
  fresh || skip "the root was not made (see the output of ensure)"
  # --kill-child: if this process (unshare, in place of the script) is
  # killed, PID 1 of the new namespace is too, and with it every process in
  # there; the mounts go with them.
  exec unshare --mount --propagation private --pid --fork --kill-child -- \
    bash "$0" __inside "$deb" "$binds" "$envs" "$@"
}

case ${1-} in
  ensure) shift; ensure "$@" ;;
  run) shift; run "$@" ;;
  __inside) shift; need_root; inside "$@" ;;
  *) echo "usage: debian-root.sh ensure [measure] | run [--deb FILE] [--bind DIR]... [--env N=V]... -- COMMAND..." >&2; exit 2 ;;
esac
