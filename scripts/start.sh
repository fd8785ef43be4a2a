#!/usr/bin/env bash
# Installs what is missing, builds and starts Tulvex.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh -DTULVEX_TESTS=OFF
exec build/bin/tulvex "$@"
