# Sourced: the environment for running our Windows binaries under Wine, headless, in a prefix of
# our own inside the build tree. Usage: . tools/ci/wine-env.sh <build-dir> [win64|win32] [prefixes]
# prefixes (default 1): with N > 1 the prefix has N-1 copies beside it (<prefix>.1, ...), each with
# a wineserver of its own, so that N tests can run at once, each in a Windows of its own (the
# tests' registry, processes and COM classes are per prefix); tools/ci/wine64/wine picks the one
# ctest gave a test.
# The tests run the x86_64 binaries in a 64-bit prefix: that needs only the 64-bit Wine loader, and
# some machines' kernels run no 32-bit programs at all (Wine's 32-bit loader fails there with
# "Exec format error"). A 32-bit prefix is for machines that can.
_build=$(cd "$1" && pwd)
export WINEARCH=${2:-win64}
if [ "$WINEARCH" = win64 ]; then
  _wine64=$(cd "$(dirname "${BASH_SOURCE[0]}")/wine64" && pwd)
  case ":$PATH:" in *":$_wine64:"*) ;; *) export PATH="$_wine64:$PATH" ;; esac
  export WINELOADER=/usr/lib/wine/wine64
  unset _wine64
fi
export WINEPREFIX="$_build/wine-$WINEARCH"
export BRISOMEL_WINE_BASE=$WINEPREFIX
_wine_prefixes=${3:-1}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's WinINet follows these even for loopback; the tests talk to loopback servers only.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy no_proxy NO_PROXY
unset _build

wine_prefix_ready() { [ -f "$WINEPREFIX/.brisomel-ready" ]; }

# Every prefix but the first, by path.
_wine_copies() {
  local i
  for ((i = 1; i < _wine_prefixes; i++)); do echo "$BRISOMEL_WINE_BASE.$i"; done
}

# Runs a command once in each prefix (WINEPREFIX set to it).
wine_each_prefix() {
  local p
  for p in "$BRISOMEL_WINE_BASE" $(_wine_copies); do WINEPREFIX=$p "$@"; done
}

wine_prefix_create() {
  _wine_prefix_create_first
  # A copy of a made prefix is a prefix: about a second, against 15-20 for wineboot.
  local copy
  for copy in $(_wine_copies); do
    [ -f "$copy/.brisomel-ready" ] && [ "$copy/.brisomel-ready" -nt "$BRISOMEL_WINE_BASE/.brisomel-ready" ] && continue
    rm -rf "$copy"
    cp -a "$BRISOMEL_WINE_BASE" "$copy"
    touch "$copy/.brisomel-ready"
  done
}

_wine_prefix_create_first() {
  wine_prefix_ready && return 0
  echo "== creating Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  DISPLAY= wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
  # x11 under Xvfb, else the null driver: windows are real HWNDs without being drawn.
  DISPLAY= wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f >/dev/null 2>&1
  # A virtual desktop, so windows under Xvfb (no window manager) get title bars and close fast.
  DISPLAY= wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  DISPLAY= wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wineserver -w
  touch "$WINEPREFIX/.brisomel-ready"
}

# A persistent, warmed-up wineserver per prefix: without it each test waits for Wine's helper
# processes.
wine_server_start() { wine_each_prefix _wine_server_start_one; }
_wine_server_start_one() {
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Wine's desktop process starts with the first window and keeps the standard output of the
  # process that started it; start it here, detached, so no test inherits it.
  wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

# Keeps the desktop process up for the rest of the session (Wine ends it a second after its last
# user; each test would start it again), in each prefix. Argument: the built
# harness_desktop_keeper.exe.
wine_desktop_hold() { wine_each_prefix _wine_desktop_hold_one "$1"; }
_wine_desktop_hold_one() {
  local ready="$WINEPREFIX/desktop-held"
  rm -f "$ready"
  wine "$1" 7200 "$(winepath -w "$ready" 2>/dev/null)" </dev/null >/dev/null 2>&1 &
  disown
  for _ in $(seq 600); do
    [ -e "$ready" ] && return 0
    sleep 0.1
  done
  echo "the desktop keeper did not start within a minute" >&2
  return 1
}

wine_server_stop() { wine_each_prefix _wine_server_stop_one; }
_wine_server_stop_one() { wineserver -k 2>/dev/null || true; }

# The prefixes as ctest resources, each one "wineprefix" slot (see tools/ci/wine64/wine), in
# ctest's JSON form, written to the file given.
wine_resources_file() {
  local i entries=""
  for ((i = 0; i < _wine_prefixes; i++)); do
    entries+="${entries:+,}{\"id\":\"$i\",\"slots\":1}"
  done
  printf '{"version":{"major":1,"minor":0},"local":[{"wineprefix":[%s]}]}\n' "$entries" >"$1"
}
