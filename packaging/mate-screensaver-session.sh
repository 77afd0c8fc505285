#!/usr/bin/env bash
# MATE's screensaver with one theme, as a user would set it, in a D-Bus
# session and a mount namespace of its own:
#   unshare --mount --propagation private -- mate-screensaver-session.sh HACKS THEME DAEMON_LOG
# The daemon runs a theme's program only from the hack folders it knows
# (/usr/libexec/xscreensaver among them), so HACKS is mounted over that one
# here, where nobody else sees it. Prints "screensaver active" once it is
# active, deactivates it on SIGUSR1 (printing "screensaver inactive"), and
# on SIGTERM stops the daemon and exits.
set -u
hacks=$1
theme=$2
log=$3

if [[ -z ${DBUS_SESSION_BUS_ADDRESS-} ]]; then
  mount --bind "$hacks" /usr/libexec/xscreensaver ||
    { echo "no private mount over /usr/libexec/xscreensaver"; exit 3; }
  exec dbus-run-session -- bash "$0" "$@"
fi

gsettings set org.mate.screensaver mode single
gsettings set org.mate.screensaver themes "['$theme']"
# No lock and no idle timer: only the commands below switch it.
gsettings set org.mate.screensaver lock-enabled false
gsettings set org.mate.screensaver idle-activation-enabled false

mate-screensaver --no-daemon --debug >"$log" 2>&1 &
daemon=$!
stop=
trap 'stop=1' TERM
trap 'mate-screensaver-command --deactivate >/dev/null; echo screensaver inactive' USR1

# It answers on the bus once it is ready.
for _ in $(seq 300); do
  mate-screensaver-command --query >/dev/null 2>&1 && break
  kill -0 "$daemon" 2>/dev/null || { echo "mate-screensaver exited"; exit 1; }
  sleep 0.1
done
mate-screensaver-command --activate || { kill "$daemon"; exit 1; }
echo screensaver active

while [[ -z $stop ]]; do sleep 0.1; done
kill "$daemon"
wait "$daemon"
