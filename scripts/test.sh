#!/usr/bin/env bash
# Every test: the unit tests of the platform-free logic (native, CTest), then the launcher and its
# test programs cross-compiled and exercised under Wine (pytest), inside a network namespace of
# their own so that the test HTTPS server on 127.0.0.1:443 touches nothing outside.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset windows-test >/dev/null
cmake --build --preset windows-test

unshare --net sh -c 'ip link set lo up && exec /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/wine "$@"' wine-tests "$@"
