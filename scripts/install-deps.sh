#!/usr/bin/env bash
# Installs, with apt, the Debian packages the build needs that are missing.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  g++ make cmake ninja-build pkg-config git
  libssl-dev openssl zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  coreutils findutils
  # vello's command line and its JSON
  libcli11-dev nlohmann-json3-dev
  # lumetta's gtk layer, and its tests of real windows under Xvfb
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev xvfb xauth
  # the real XScreenSaver daemon, which the tests of lumetta as its hack run
  xscreensaver
  # the Debian 13 root the tests of the installed program also run in, with
  # a loopback-only network of its own
  debootstrap iproute2
  # make deb (CPack's DEB generator asks dpkg-shlibdeps for Depends:), and
  # the test that runs MATE's screensaver in a D-Bus session of its own
  # (dbus-run-session, gsettings)
  dpkg-dev mate-screensaver dbus-daemon libglib2.0-bin
  # the test of the .deb checks it as Debian does
  lintian
)
# The player comes from the npm registry; any npm will do.
command -v npm >/dev/null 2>&1 || packages+=(npm)

# Optional groups, named on the command line.
for group in "$@"; do
  case "$group" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    # scripts/measure-lumetta.sh: the browser it compares lumetta with.
    measure) packages+=(chromium python3) ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
