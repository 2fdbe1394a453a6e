#!/usr/bin/env bash
# Run by hand (not part of the tests): how long a 40 MB package takes to download from nginx on
# loopback three ways, and how often the launcher rewrites its status label meanwhile.
#
#   bench/download.sh [RUNS]                   (default 5 runs; prints the median of each way)
#   BENCH_PACKAGE_MB=4 bench/download.sh        (another package size, to tell fixed costs apart)
#
# 1. launcher: the launcher's own DownloadPackage with its real progress window and label, linked
#    into bench_download.exe, which times the call itself (Wine's start-up is not counted) and
#    counts the label's rewrites.
# 2. bare loop: bench_winhttp.exe, the same WinHTTP calls with 256 KiB reads into one buffer and
#    no file or label work, timed from WinHttpOpen to the last WinHttpCloseHandle.
# 3. curl: `curl -o /dev/null`, its own total time.
# All three fetch https://localhost/downloads/Orvix-Windows.zip from the same nginx, which serves
# the file from the page cache. One unmeasured run of each comes first.
#
# Port 443 needs root; the script runs itself again inside a network namespace of its own
# (unshare -n), so it touches no other server. Needs the windows-test build:
#   cmake --preset windows-test && cmake --build --preset windows-test
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${ORVIX_BENCH_NETNS:-}" ]; then
  exec unshare -n env ORVIX_BENCH_NETNS=1 sh -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi

RUNS="${1:-5}"
PACKAGE_MB="${BENCH_PACKAGE_MB:-40}"
ROOT="$PWD/build/bench/download"
TOOLS="$PWD/build/windows-test/winetools"
for file in "$TOOLS/bench_download.exe" "$TOOLS/bench_winhttp.exe" "$TOOLS/addroot.exe"; do
  [ -f "$file" ] || { echo "missing $file: build the windows-test preset first" >&2; exit 1; }
done
mkdir -p "$ROOT/tls" "$ROOT/www/downloads" "$ROOT/nginx/tmp" "$ROOT/home"

PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# A test certificate authority and a server certificate for localhost, kept for the next run.
if [ ! -f "$ROOT/tls/server.crt" ]; then
  (
    cd "$ROOT/tls"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 3650 \
      -subj "/O=Orvix bench/CN=Orvix Bench CA $(date +%s)" -addext basicConstraints=critical,CA:TRUE \
      -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -set_serial "$(date +%s)" -days 825 \
      -sha256 -extfile server.ext -out server.crt 2>/dev/null
  )
fi

# A Wine prefix of the benchmark's own that trusts that authority, kept for the next run.
export WINEPREFIX="$ROOT/prefix" WINEARCH=win64 WINEDEBUG=-all HOME="$ROOT/home"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/.bench-ready" ]; then
  echo "Creating the Wine prefix (once)..."
  rm -rf "$WINEPREFIX"
  env -u DISPLAY wineboot -i >/dev/null 2>&1
  wineserver -w
  env -u DISPLAY wine "$TOOLS/addroot.exe" "$(winepath -w "$ROOT/tls/ca.crt" 2>/dev/null)" >/dev/null
  wineserver -w
  touch "$WINEPREFIX/.bench-ready"
fi

# The package: incompressible bytes.
PACKAGE="$ROOT/www/downloads/Orvix-Windows.zip"
head -c "$((PACKAGE_MB * 1048576))" /dev/urandom >"$PACKAGE"
PACKAGE_SIZE=$(stat -c %s "$PACKAGE")

cat >"$ROOT/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
pid $ROOT/nginx/nginx.pid;
error_log $ROOT/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $ROOT/nginx/tmp/body;
    proxy_temp_path $ROOT/nginx/tmp/proxy;
    fastcgi_temp_path $ROOT/nginx/tmp/fastcgi;
    uwsgi_temp_path $ROOT/nginx/tmp/uwsgi;
    scgi_temp_path $ROOT/nginx/tmp/scgi;
    types { application/zip zip; }
    sendfile on;
    server {
        listen 127.0.0.1:443 ssl;
        server_name localhost;
        ssl_certificate $ROOT/tls/server.crt;
        ssl_certificate_key $ROOT/tls/server.key;
        root $ROOT/www;
    }
}
EOF
nginx -p "$ROOT/nginx" -c "$ROOT/nginx/nginx.conf" -e "$ROOT/nginx/error.log" &
PIDS+=($!)
for _ in $(seq 100); do
  curl -s -o /dev/null --cacert "$ROOT/tls/ca.crt" https://localhost/ && break
  sleep 0.05
done

# A virtual screen for the progress window (the label is only rewritten when it exists). Xvfb
# picks a free display number and writes it to fd 9.
rm -f "$ROOT/display"
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$ROOT/display" 2>/dev/null &
PIDS+=($!)
for _ in $(seq 200); do [ -s "$ROOT/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$ROOT/display")"

wineserver -p30 # one server for all runs; it ends 30 s after the last program
TEMP_DIR=$(winepath -u "$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')" 2>/dev/null)
TEMP_PACKAGE="$TEMP_DIR/Orvix-Windows.zip"

field() { /usr/bin/python3 -c 'import json, sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$1" "$2"; }

# One timed download through the launcher's code; prints its seconds and keeps its whole report
# in $ROOT/launcher.json. Checks the downloaded file, then deletes it.
launcher_download() {
  rm -f "$TEMP_PACKAGE"
  local line
  line=$(wine "$TOOLS/bench_download.exe" 2>/dev/null | tr -d '\r')
  cmp -s "$PACKAGE" "$TEMP_PACKAGE" || { echo "the launcher's download differs from the package: $line" >&2; exit 1; }
  rm -f "$TEMP_PACKAGE"
  echo "$line" >"$ROOT/launcher.json"
  field "$line" seconds
}

# One timed bare WinHTTP loop; prints its seconds.
bare_download() {
  local line
  line=$(wine "$TOOLS/bench_winhttp.exe" 2>/dev/null | tr -d '\r')
  [ "$(field "$line" received)" = "$PACKAGE_SIZE" ] || { echo "the bare loop got too little: $line" >&2; exit 1; }
  field "$line" seconds
}

# One curl download to /dev/null; prints its seconds.
curl_download() {
  curl -s -o /dev/null --cacert "$ROOT/tls/ca.crt" -w '%{time_total}\n' https://localhost/downloads/Orvix-Windows.zip
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
best() { sort -g | head -n1; }

echo "Package: $PACKAGE_SIZE bytes; $RUNS runs of each way after one unmeasured run."
launcher_download >/dev/null
bare_download >/dev/null
curl_download >/dev/null
LAUNCHER=(); BARE=(); CURL=()
for _ in $(seq "$RUNS"); do
  LAUNCHER+=("$(launcher_download)")
  BARE+=("$(bare_download)")
  CURL+=("$(curl_download)")
done
REPORT=$(cat "$ROOT/launcher.json")

L=$(printf '%s\n' "${LAUNCHER[@]}" | median); LB=$(printf '%s\n' "${LAUNCHER[@]}" | best)
B=$(printf '%s\n' "${BARE[@]}" | median); BB=$(printf '%s\n' "${BARE[@]}" | best)
C=$(printf '%s\n' "${CURL[@]}" | median); CB=$(printf '%s\n' "${CURL[@]}" | best)
printf 'launcher download code  median %.3f s, best %.3f s   (runs: %s)\n' "$L" "$LB" "${LAUNCHER[*]}"
printf 'bare WinHTTP loop       median %.3f s, best %.3f s   (runs: %s)\n' "$B" "$BB" "${BARE[*]}"
printf 'curl                    median %.3f s, best %.3f s   (runs: %s)\n' "$C" "$CB" "${CURL[*]}"
printf 'launcher / bare loop    %.3f on the medians, %.3f on the best runs  (target: at most 1.1)\n' \
  "$(awk -v l="$L" -v b="$B" 'BEGIN { print l / b }')" "$(awk -v l="$LB" -v b="$BB" 'BEGIN { print l / b }')"
printf 'label rewrites with a percentage: %s  (target: 101); all label rewrites during the download: %s; last text: %s\n' \
  "$(field "$REPORT" percent_rewrites)" "$(field "$REPORT" label_rewrites)" \
  "$(field "$REPORT" last_text)"
[ "$(field "$REPORT" label_found)" = "True" ] || echo "warning: the progress label was not found" >&2
