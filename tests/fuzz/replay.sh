#!/usr/bin/env bash
# replay.sh <replay program> <target>: runs the target's seeds (files and generated) and its
# regressions once through the replay program.
set -euo pipefail
prog=$1 name=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/seeds.sh" "$name" "$work/seeds"
exec "$prog" "$work/seeds" "$here/regressions/$name"
