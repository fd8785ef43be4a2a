#!/usr/bin/env bash
# Fails when the JPEG container code includes anything of the project outside jpeg/ and
# platform/: the EXIF code sits on top of it, never below.
#   scripts/check-byte-layer.sh [SOURCE_DIR]
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"
[ -d "$src/jpeg" ] || { echo "no $src/jpeg" >&2; exit 2; }
offenders=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$src/jpeg" |
            grep -vE '#[[:space:]]*include[[:space:]]*"(jpeg|platform)/' || true)
if [ -n "$offenders" ]; then
  echo "src/jpeg includes from a higher layer:" >&2
  echo "$offenders" >&2
  exit 1
fi
