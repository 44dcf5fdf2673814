#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Speed and memory of the transfer jobs against a simulated pedal, beside sox's own conversion
# of the same file to the pedal's rate in the same run.
#
#   bench/transfer_bench.sh [MINUTES...]     (default: 1 10)
#
# For each length it makes a two-channel 48,000 Hz 24-bit file, then times and measures
#   import   rendax-cli import of the file into a simulated two-channel pedal
#   export   rendax-cli export of that pedal's loop
#   sox      sox in.wav -r 46875 -b 24 out.wav rate -q
# and prints wall seconds and peak resident memory (MiB) of each, and each job's time as a
# fraction of sox's.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=("$@")
((${#minutes[@]})) || minutes=(1 10)

build=build/bench-transfer
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRENDAX_BUILD_TESTS=OFF \
  -DRENDAX_BUILD_GUI=OFF -DRENDAX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target rendax-cli >/dev/null
cli="$PWD/$build/cli/rendax-cli"

work=$(mktemp -d "${TMPDIR:-/tmp}/rendax-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export RENDAX_SIMULATOR="$work/sim"
mkdir -p "$RENDAX_SIMULATOR"

# Runs a command; prints "<wall seconds> <peak RSS MiB>".
measure() {
  if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      cat "$work/err" >&2
      return 1
    }
    awk '{ printf "%.2f %.1f\n", $1, $2 / 1024 }' "$work/time"
  else
    python3 - "$@" <<'PY'
import resource, subprocess, sys, time
t = time.monotonic()
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
wall = time.monotonic() - t
print(f"{wall:.2f} {resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024:.1f}")
PY
  fi
}

printf '%-8s %-7s %9s %9s %12s\n' length job wall_s peak_MiB vs_sox_time
for m in "${minutes[@]}"; do
  in="$work/in-$m.wav"
  # Music-like content: two tones and pink noise, different in each channel.
  sox -n -r 48000 -b 24 -c 2 -t wavpcm "$in" synth "$((m * 60))" sine 220 pinknoise \
    remix 1v0.4,2v0.3 1v0.3,2v0.4 2>/dev/null
  pedal="$RENDAX_SIMULATOR/bench$m"
  "$cli" sim create "$pedal" --model 1 >/dev/null
  read -r iw im < <(measure "$cli" --pedal "$pedal" import "$in" --yes)
  read -r ew em < <(measure "$cli" --pedal "$pedal" export "$work/out-$m.wav")
  read -r sw sm < <(measure sox "$in" -r 46875 -b 24 "$work/sox-$m.wav" rate -q)
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
  printf '%-8s %-7s %9s %9s %12s\n' "${m}min" import "$iw" "$im" "$(ratio "$iw" "$sw")"
  printf '%-8s %-7s %9s %9s %12s\n' "${m}min" export "$ew" "$em" "$(ratio "$ew" "$sw")"
  printf '%-8s %-7s %9s %9s %12s\n' "${m}min" sox "$sw" "$sm" 1.00
  rm -f "$in" "$work/out-$m.wav" "$work/sox-$m.wav" "$pedal/loop.bin"
done
