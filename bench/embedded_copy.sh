#!/usr/bin/env bash
# Run by hand (not part of the tests): how long the launcher takes to copy a 40 MB embedded
# package out of its own file, against `cp` of the same bytes, and the release launcher's size.
#
#   bench/embedded_copy.sh [RUNS]          (default 7 runs; prints the median of each side)
#   BENCH_PACKAGE_MB=4 bench/embedded_copy.sh   (another package size, to tell fixed costs apart)
#
# The copy is the launcher's own ExtractEmbeddedPackage, linked into bench_embedded.exe, which
# orvix-pack turns into an offline program carrying the package; the program times the call
# itself under Wine, so Wine's start-up is not counted. `cp` copies the package file into the same
# temporary folder of the same Wine prefix. Both sides write a fresh file and read from the page
# cache (one unmeasured run of each comes first). Needs the host, windows and windows-test builds:
#   cmake --preset host && cmake --build --preset host
#   cmake --preset windows && cmake --build --preset windows
#   cmake --preset windows-test && cmake --build --preset windows-test
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS="${1:-7}"
PACKAGE_MB="${BENCH_PACKAGE_MB:-40}"
LAUNCHER_LIMIT=262144
ROOT="$PWD/build/bench/embedded-copy"
ORVIX_PACK="$PWD/build/host/orvix-pack"
BENCH_EXE="$PWD/build/windows-test/winetools/bench_embedded.exe"
SUITE_EXE="$PWD/build/windows-test/winetools/Orvix.exe"
RELEASE_LAUNCHER="$PWD/build/windows/Orvix-Email-Windows.exe"

for file in "$ORVIX_PACK" "$BENCH_EXE" "$SUITE_EXE" "$RELEASE_LAUNCHER"; do
  [ -f "$file" ] || { echo "missing $file: build the host, windows and windows-test presets first" >&2; exit 1; }
done

# A Wine prefix of the benchmark's own, kept for the next run.
export WINEPREFIX="$ROOT/prefix" WINEARCH=win64 WINEDEBUG=-all HOME="$ROOT/home"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
mkdir -p "$HOME"
if [ ! -f "$WINEPREFIX/.bench-ready" ]; then
  echo "Creating the Wine prefix (once)..."
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.bench-ready"
fi
wineserver -p30 # keeps one server for all runs; it ends 30 s after the last program

# The package: the stand-in suite and PACKAGE_MB MiB of incompressible bytes in all, stored as is.
PACKAGE="$ROOT/package.zip"
PACKED="$ROOT/bench_embedded-offline.exe"
/usr/bin/python3 - "$PACKAGE" "$SUITE_EXE" "$PACKAGE_MB" <<'EOF'
import os, sys, zipfile
package, suite, megabytes = sys.argv[1], sys.argv[2], int(sys.argv[3])
with zipfile.ZipFile(package, "w") as archive:
    archive.write(suite, "Orvix All In One/Orvix.exe", zipfile.ZIP_DEFLATED)
    archive.writestr("Orvix All In One/data/filler.bin", os.urandom(megabytes * 1048576 - 65536),
                     zipfile.ZIP_STORED)
EOF
"$ORVIX_PACK" "$BENCH_EXE" "$PACKAGE" "$PACKED" >/dev/null
PACKAGE_SIZE=$(stat -c %s "$PACKAGE")

TEMP_WIN=$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
TEMP_DIR=$(winepath -u "$TEMP_WIN" 2>/dev/null)
TEMP_PACKAGE="$TEMP_DIR/Orvix-Windows.zip"
CP_TARGET="$TEMP_DIR/cp-copy.zip"

# One timed ExtractEmbeddedPackage call; prints its seconds. Checks the copy, then deletes it.
launcher_copy() {
  rm -f "$TEMP_PACKAGE"
  local line
  line=$(wine "$PACKED" 2>/dev/null | tr -d '\r')
  cmp -s "$PACKAGE" "$TEMP_PACKAGE" || { echo "the copy differs from the package: $line" >&2; exit 1; }
  rm -f "$TEMP_PACKAGE"
  /usr/bin/python3 -c 'import json, sys; print(json.loads(sys.argv[1])["seconds"])' "$line"
}

# One timed cp from $1 to a fresh file in the same folder; prints its seconds. The clock is
# bash's own ($EPOCHREALTIME), so only cp's run is counted, its process start included.
cp_copy() {
  rm -f "$CP_TARGET"
  local start end
  start=$EPOCHREALTIME
  cp "$1" "$CP_TARGET"
  end=$EPOCHREALTIME
  rm -f "$CP_TARGET"
  /usr/bin/python3 -c 'import sys; print(f"{float(sys.argv[2]) - float(sys.argv[1]):.6f}")' "$start" "$end"
}

median() { /usr/bin/python3 -c 'import statistics, sys; print(f"{statistics.median(float(x) for x in sys.argv[1:]):.4f}")' "$@"; }

EMPTY="$ROOT/empty"
: >"$EMPTY"
launcher_copy >/dev/null
cp_copy "$PACKAGE" >/dev/null
launcher_times=()
cp_times=()
start_times=()
for _ in $(seq "$RUNS"); do
  launcher_times+=("$(launcher_copy)")
  cp_times+=("$(cp_copy "$PACKAGE")")
  start_times+=("$(cp_copy "$EMPTY")")
done

LAUNCHER_MEDIAN=$(median "${launcher_times[@]}")
CP_MEDIAN=$(median "${cp_times[@]}")
START_MEDIAN=$(median "${start_times[@]}")
CP_NET=$(/usr/bin/python3 -c 'import sys; print(f"{float(sys.argv[1]) - float(sys.argv[2]):.4f}")' "$CP_MEDIAN" "$START_MEDIAN")
LAUNCHER_SIZE=$(stat -c %s "$RELEASE_LAUNCHER")

echo "package: $PACKAGE_SIZE bytes, $RUNS runs each"
echo "ExtractEmbeddedPackage (under Wine): $(printf '%s ' "${launcher_times[@]}")"
echo "cp:                                  $(printf '%s ' "${cp_times[@]}")"
echo "cp of an empty file (its start-up):  $(printf '%s ' "${start_times[@]}")"
echo "median ExtractEmbeddedPackage: ${LAUNCHER_MEDIAN} s"
echo "median cp:                     ${CP_MEDIAN} s (${CP_NET} s without its start-up, median ${START_MEDIAN} s)"
/usr/bin/python3 -c 'import sys; l, c, n = map(float, sys.argv[1:]); print(f"ratio: {l / c:.2f} against cp, {l / n:.2f} against its copy alone (target: at most 1.2)")' \
  "$LAUNCHER_MEDIAN" "$CP_MEDIAN" "$CP_NET"
echo "release launcher: $LAUNCHER_SIZE bytes ($(( LAUNCHER_SIZE / 1024 )) KiB; target: at most $(( LAUNCHER_LIMIT / 1024 )) KiB)"
