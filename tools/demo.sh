#!/usr/bin/env bash
# Builds Cuevox and starts it on the demo movie and script made beside it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh" --if-missing packages.txt
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)"
exec "$root/build/cuevox"
