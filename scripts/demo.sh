#!/usr/bin/env bash
# Builds the launcher, the stand-in suite, its package and orvix-pack, then runs the whole first
# run and an offline install under Wine (scripts/demo.py). Screenshots land in build/demo/screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

cmake --preset host >/dev/null
cmake --build --preset host --target orvix-pack
cmake --preset windows-test >/dev/null
cmake --build --preset windows-test

unshare --net sh -c 'ip link set lo up && exec /usr/bin/python3 scripts/demo.py'
