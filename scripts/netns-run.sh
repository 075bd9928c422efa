#!/usr/bin/env bash
# Runs a command inside a private network namespace that has only the loopback interface
# and its own dbus-daemon and avahi-daemon, so that DNS-SD discovery can be exercised
# without ever touching the machine's real network or its mDNS responder.
#
#   scripts/netns-run.sh COMMAND [ARGS...]
#
# Exits with the command's status, or 77 (ctest SKIP_RETURN_CODE) with a message when
# this machine does not permit `unshare --net --mount`.
set -euo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

if [ "${NOTECRATE_NETNS_INSIDE:-}" != "1" ]; then
  if ! unshare --net --mount true 2>/dev/null; then
    echo "netns-run: SKIPPED: 'unshare --net --mount' is not permitted here (needs root or user namespaces)" >&2
    exit 77
  fi
  export NOTECRATE_NETNS_INSIDE=1
  exec unshare --net --mount --propagation private bash "$0" "$@"
fi

# From here on we are inside the private namespaces: mounts and daemons vanish with them.
fail() {
  echo "netns-run: $*" >&2
  exit 1
}

ip link set lo up
ip link set lo multicast on

# The daemons keep their sockets and pid files here; private copies hide the machine's own.
# A folder made here for the mount is shared with the machine; it goes again on exit.
made_dirs=()
for dir in /run/dbus /run/avahi-daemon; do
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir"
    made_dirs+=("$dir")
  fi
  mount -t tmpfs -o mode=0755 tmpfs "$dir"
done

work="$(mktemp -d)"
dbus_pid=""
avahi_pid=""
cleanup() {
  # Stop exactly the daemons started here, by pid.
  if [ -n "$avahi_pid" ]; then
    kill "$avahi_pid" 2>/dev/null || true
    wait "$avahi_pid" 2>/dev/null || true
  fi
  if [ -n "$dbus_pid" ]; then
    kill "$dbus_pid" 2>/dev/null || true
    wait "$dbus_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  for dir in "${made_dirs[@]}"; do
    umount "$dir" 2>/dev/null && rmdir "$dir" 2>/dev/null || true
  done
}
trap cleanup EXIT

cat >"$work/avahi-daemon.conf" <<'EOF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-hinfo=no
publish-workstation=no
publish-addresses=yes
publish-domain=no

[reflector]
enable-reflector=no
EOF

dbus-daemon --system --nofork --nopidfile >"$work/dbus.log" 2>&1 &
dbus_pid=$!
for _ in $(seq 100); do
  [ -S /run/dbus/system_bus_socket ] && break
  kill -0 "$dbus_pid" 2>/dev/null || { cat "$work/dbus.log" >&2; fail "dbus-daemon did not start"; }
  sleep 0.05
done
[ -S /run/dbus/system_bus_socket ] || fail "dbus-daemon did not open its socket"

avahi-daemon -f "$work/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits --no-proc-title \
  >"$work/avahi.log" 2>&1 &
avahi_pid=$!

# Ready once the responder says it is running (server state 2): its host name is then
# established and services can be registered.
ready=""
for _ in $(seq 200); do
  kill -0 "$avahi_pid" 2>/dev/null || { cat "$work/avahi.log" >&2; fail "avahi-daemon did not start"; }
  state="$(dbus-send --system --print-reply=literal --dest=org.freedesktop.Avahi / \
    org.freedesktop.Avahi.Server.GetState 2>/dev/null || true)"
  if [[ "$state" == *"int32 2"* ]]; then
    ready=1
    break
  fi
  sleep 0.05
done
[ -n "$ready" ] || { cat "$work/avahi.log" >&2; fail "avahi-daemon did not become ready"; }

export AVAHI_COMPAT_NOWARN=1
status=0
"$@" || status=$?
exit "$status"
