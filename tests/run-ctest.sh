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
# A test given another try (--repeat) reports again without the count in front; its last word holds.
read -r passed failed skipped < <(awk '
  /^ *([0-9]+\/[0-9]+ )?Test +#[0-9]+: / {
    id = $0; sub(/^[^#]*#/, "", id); sub(/:.*/, "", id)
    status = $0; sub(/.*\.\.\. */, "", status)
    last[id] = status ~ /^Passed/ ? "p" : status ~ /Skipped/ ? "s" : "f"
  }
  END { for (id in last) n[last[id]]++; print n["p"] + 0, n["f"] + 0, n["s"] + 0 }' "$log")
if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit "$rc"
