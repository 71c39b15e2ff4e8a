#!/usr/bin/env bash
# The package on this machine, as an administrator meets it: installed by apt (the older build),
# configured, run once, upgraded to the newer build, removed, purged. The machine is left as it
# was found: the package purged, its user, folders and unit links gone.
# Usage: install_upgrade_purge.sh OLDER.deb NEWER.deb   (as root; exits 77, "skipped", otherwise)
set -uo pipefail
older=$1 newer=$2
if [ "$(id -u)" != 0 ]; then
  echo "skipped: installing a package needs root"
  exit 77
fi
if dpkg-query -W -f='${db:Status-Status}' talmery-gateway 2>/dev/null | grep -qv '^not-installed$' ||
   getent passwd talmery >/dev/null || getent group talmery >/dev/null || [ -e /var/lib/talmery-gateway ]; then
  echo "skipped: talmery-gateway (or its user or folder) is on this machine already; this test would not leave it as it was"
  exit 77
fi

conf=/etc/talmery-gateway/talmery-gateway.conf
state=/var/lib/talmery-gateway
wants=/etc/systemd/system/multi-user.target.wants/talmery-gateway.service
dsh=/var/lib/systemd/deb-systemd-helper-enabled/talmery-gateway.service.dsh-also
work=$(mktemp -d)
gateway_pid=

machine() {  # what the test must leave as it found it
  getent passwd | sort; getent group | sort
  find /etc/systemd /var/lib/systemd/deb-systemd-helper-enabled /etc/talmery-gateway /var/lib/talmery-gateway \
    -printf '%p %l\n' 2>/dev/null | sort
  dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' | sort
}
cleanup() {
  if [ -n "$gateway_pid" ]; then kill "$gateway_pid" 2>/dev/null; wait "$gateway_pid" 2>/dev/null; fi
  if dpkg-query -W talmery-gateway >/dev/null 2>&1; then dpkg --purge talmery-gateway >/dev/null 2>&1; fi
  rm -rf "$work"
}
trap cleanup EXIT
machine >"$work/before"

failures=0
check() {  # check "what" command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
installed_version() { dpkg-query -W -f='${Version}' talmery-gateway 2>/dev/null; }
older_version=$(dpkg-deb -f "$older" Version) newer_version=$(dpkg-deb -f "$newer" Version)
# Another apt or dpkg on the machine (an unattended upgrade) holds the lock for a while: wait for
# it rather than fail.
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$1" \
    >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; return 1; }
}
dpkg_quiet() {
  local waited=0
  until dpkg "$@" >"$work/dpkg.log" 2>&1; do
    if grep -qE "frontend lock|database (area )?is locked" "$work/dpkg.log" && ((waited < 300)); then sleep 2; waited=$((waited + 2)); continue; fi
    cat "$work/dpkg.log"
    return 1
  done
}

echo "== apt-get install $older"
check "the older build installs" apt_install "$(realpath "$older")"
check "installed as $older_version" test "$(installed_version)" = "$older_version"
check "the message says how to start it" grep -q "talmery-gateway: not started: write $conf" "$work/apt.log"
check "a system user talmery with a group of its own and no login" \
  bash -c '[ "$(id -u talmery)" -lt 1000 ] && [ "$(id -gn talmery)" = talmery ] &&
           [ "$(getent passwd talmery | cut -d: -f6,7)" = "/var/lib/talmery-gateway:/usr/sbin/nologin" ]'
check "the state folder is the user's alone" test "$(stat -c '%U:%G %a' "$state")" = "talmery:talmery 700"
check "the example settings are a conffile" \
  bash -c "dpkg-query -W -f='\${Conffiles}' talmery-gateway | grep -q '^ /etc/talmery-gateway/talmery-gateway.conf.example '"
check "the unit is installed but, without a configuration, not enabled" \
  bash -c "[ -f /lib/systemd/system/talmery-gateway.service ] && [ ! -e $wants ]"
check "the man page and the alert rules are there" \
  test -f /usr/share/man/man8/talmery-gateway.8.gz -a -f /usr/share/talmery-gateway/talmery-gateway.rules.yml
check "the program finds every library" bash -c '! ldd /usr/sbin/talmery-gateway /usr/libexec/talmery-speak | grep -q "not found"'

echo "== configured and run once in speaker mode: one call stored"
{
  echo "listen = 127.0.0.1:0"
  echo "mode = speaker"
  echo "speaker_dir = $state/spoken"
} >"$work/talmery-gateway.conf"
install -m 0640 -g talmery "$work/talmery-gateway.conf" "$conf"
runuser -u talmery -- /usr/sbin/talmery-gateway --config "$conf" >"$work/gateway.log" 2>&1 &
gateway_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*event=start .*listen=127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/gateway.log")
  [ -n "$port" ] && break
  sleep 0.1
done
answer=$(curl -s --max-time 10 --data 'calltime=0&selfdelete=1&firstocc=15&phoneno=5550123&txt=Budget+review.' \
  "http://127.0.0.1:$port/ocall/callreqHandler.jsp" | tr -d '\r')
check "the installed gateway takes a call" test "$answer" = "[1]"
for _ in $(seq 100); do
  grep -q "event=state call=1 state=done" "$work/gateway.log" && break
  sleep 0.1
done
check "and speaks it with the installed helper" test -s "$state/spoken/call-1.wav"
kill -TERM "$gateway_pid"
wait "$gateway_pid"
gateway_pid=
[ "$failures" = 0 ] || cat "$work/gateway.log"
sum_before=$(md5sum <"$conf")

echo "== apt-get install $newer (upgrade)"
check "the newer build upgrades it" apt_install "$(realpath "$newer")"
check "installed as $newer_version" test "$(installed_version)" = "$newer_version"
check "with a configuration, the unit is enabled" test "$(readlink "$wants")" = /lib/systemd/system/talmery-gateway.service
check "the configuration is as it was" test "$(md5sum <"$conf")" = "$sum_before"
check "the call is still in the store" \
  bash -c "runuser -u talmery -- talmery-gateway --config $conf --list | grep -q '^ *1  55\*\*\*23  *done'"
# The administrator's "systemctl disable" (the same links, with or without a running systemd)
# outlives a reinstall.
systemctl disable talmery-gateway.service >/dev/null 2>&1
check "the same build installs again" dpkg_quiet -i "$newer"
check "a unit the administrator disabled stays disabled" test ! -e "$wants"

echo "== dpkg --remove"
check "it is removed" dpkg_quiet --remove talmery-gateway
check "the programs are gone" test ! -e /usr/sbin/talmery-gateway -a ! -e /usr/libexec/talmery-speak
check "the calls database, the configuration and the user stay" \
  bash -c "[ -s $state/calls.db ] && [ -f $conf ] && [ -f $conf.example ] && getent passwd talmery >/dev/null"

echo "== dpkg --purge"
check "it is purged" dpkg_quiet --purge talmery-gateway
check "the calls database and the configuration are gone" test ! -e "$state" -a ! -e /etc/talmery-gateway
check "the user and its group are gone" bash -c '! getent passwd talmery && ! getent group talmery'
check "the unit's links and state are gone" test ! -e "$wants" -a ! -e "$dsh"
machine >"$work/after"
check "the machine is as it was found" diff "$work/before" "$work/after"

[ "$failures" = 0 ] || { echo "$failures checks failed"; exit 1; }
