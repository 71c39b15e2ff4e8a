#!/usr/bin/env bash
# Screenshots of cadelo under Xvfb: the main window with its settings view, the Setup dialog and
# the About box, as PNG files for a person to look at.
# Usage: tools/screenshots.sh [output dir, default <build>/x86_64/screenshots]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout). Uses a Wine prefix and
# wineserver of its own (<build>/x86_64/screenshot-wine/wine-win64), so it does not disturb a
# headless test session, and an X display that is free.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}/x86_64
out=${1:-$build/screenshots}

tools/ci/setup.sh
. tools/ci/quiet.sh
echo "== building (x86_64)" >&2
quiet cmake --preset x86_64 -B "$build"
quiet cmake --build "$build" -j "$(nproc)" --target cadelo shell_screenshots
mkdir -p "$out" "$build/screenshot-wine"

display=""
for n in $(seq 90 130); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }

xvfb_pid=""
own_prefix=""
cleanup() {
  # Only the wineserver of our own prefix: the caller's session goes on.
  [ -n "$own_prefix" ] && WINEPREFIX=$own_prefix wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

. "$root/tools/ci/wine-env.sh" "$build/screenshot-wine" win64
own_prefix=$WINEPREFIX
export DISPLAY=$display
wine_prefix_create
wineserver -k 2>/dev/null || true  # the session below starts with the X11 driver

driver=$(winepath -w "$build/tools/bench/shell_screenshots.exe" 2>/dev/null)
cadelo=$(winepath -w "$build/agent/shell/cadelo.exe" 2>/dev/null)

coproc DRIVER { wine "$driver" "$cadelo" 2>/dev/null; }
status=1
while IFS= read -r line <&"${DRIVER[0]}"; do
  line=${line%$'\r'}
  case $line in
    READY\ *)
      read -r _ name x y w h <<<"$line"
      import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
      echo "screenshot $out/$name.png"
      echo ok >&"${DRIVER[1]}"
      ;;
    DONE) status=0 ;;
    FAILED*) echo "$line" >&2 ;;
  esac
done
exit $status
