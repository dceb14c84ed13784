#!/usr/bin/env bash
# Runs a fuzz target on its seed corpus for as long as you like. New inputs
# it finds go to a work folder (not into the seeds); a crash, a sanitizer
# report or a difference from the model stops it and leaves the input in the
# current directory.
#
#   fuzz/run.sh search|settings|warc|links SECONDS [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
target=$1
seconds=$2
build=${3:-$here/../build/sanitized}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$work" "$here/corpus/$target"
