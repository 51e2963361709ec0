#!/usr/bin/env bash
# seeds.sh <target> <folder>: fills folder with the target's seed corpus: the files under
# seeds/<target>/ and whatever seeds/<target>.py writes. Every seed is made here; none is taken
# from elsewhere.
set -euo pipefail
name=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
if [ -d "$here/seeds/$name" ]; then cp -r "$here/seeds/$name/." "$out/"; fi
if [ -f "$here/seeds/$name.py" ]; then python3 "$here/seeds/$name.py" "$out"; fi
if [ -z "$(ls -A "$out")" ]; then echo "seeds.sh: no seeds for $name" >&2; exit 1; fi
