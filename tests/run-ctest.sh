#!/usr/bin/env bash
# Runs the whole ctest suite of a build directory beside a private sound server (PulseAudio, or
# PipeWire with AVSETUP_SOUND_SERVER=pipewire), then closes with one plain summary line
# ("tests: N passed, N failed, N skipped") after ctest's own report.
set -euo pipefail
build=$1
shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
"$(dirname "$0")/with-${AVSETUP_SOUND_SERVER:-pulse}.sh" ctest --test-dir "$build" --output-on-failure "$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
set -e
# A result line reads "  7/331 Test   #7: Name .....   Passed    0.02 sec"; the status follows the dots.
read -r passed failed skipped < <(awk '
  /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
    status = $0; sub(/.*\.\.\. */, "", status)
    if (status ~ /^Passed/) p++; else if (status ~ /Skipped/) s++; else f++
  }
  END { print p + 0, f + 0, s + 0 }' "$log")
if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit "$rc"
