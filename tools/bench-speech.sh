#!/usr/bin/env bash
# Measures how well each voice carries a reminder over a G.711 call, and what it costs: 20
# reminder texts composed as the agent composes them, planned and spoken as the gateway speaks
# them (EarText, max_message_seconds, the talmery-speak helper at 8 kHz), through mu-law and back,
# recognised by Debian's pocketsphinx (tools/bench/speech_bench.cpp). Prints the table and puts
# it, with the date, the machine and its load, into docs/performance.md. As root when pocketsphinx
# is missing (it is installed with apt-get: the test command does not need it). Not part of the
# test command; about 20 minutes on 2 cores.
# Usage: tools/bench-speech.sh [voices, comma-separated; default: every flite voice, espeak-ng en and en-us]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout); the WAV files and
# what was heard of each text stay in its speech-bench/ folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
voices=${1:-flite:awb,flite:kal,flite:kal16,flite:rms,flite:slt,en,en-us}
jobs=$(nproc)

tools/ci/setup.sh
. tools/ci/quiet.sh
. tools/ci/measuring.sh

if ! command -v pocketsphinx_continuous >/dev/null || [ ! -d /usr/share/pocketsphinx/model/en-us ]; then
  echo "== installing pocketsphinx pocketsphinx-en-us (the recogniser the bench listens with)" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q pocketsphinx pocketsphinx-en-us >&2
fi

echo "== building (Release, no sanitizers)" >&2
quiet cmake --preset native-release -B "$build/gateway-release"
quiet cmake --build "$build/gateway-release" -j "$jobs" --target speech_bench talmery-speak

echo "== measuring (the speech, then the recogniser on $jobs threads: about 20 minutes)" >&2
rm -rf "$build/speech-bench"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
out=$("$build/gateway-release/tools/bench/speech_bench" --voices "$voices" --jobs "$jobs" --out "$build/speech-bench")
rows=$(printf '%s\n' "$out" | grep '^|')
cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }
header="Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu); flite $(version libflite1), \
espeak-ng $(version libespeak-ng1), pocketsphinx $(version pocketsphinx) with its en-us model; \
load average $load_before before and $(cut -d' ' -f1-3 /proc/loadavg) after (other work on the machine counts in it); \
$(printf '%s\n' "$out" | grep -m1 ' texts at '| sed 's/; the WAV files.*//'); \
command: \`tools/bench-speech.sh${1:+ $1}\`."
table=$(printf '%s\n\n%s\n' "$header" "$rows")

write_performance_section speech-bench "Speech: how well each voice is heard over the telephone" "$table"
printf '%s\n' "$table"
echo "== what was heard of each text: $build/speech-bench/report.txt" >&2
