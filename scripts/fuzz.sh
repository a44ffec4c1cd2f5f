#!/usr/bin/env bash
# Runs one fuzzer of the native build for a bounded time, starting from its seed corpus in
# fuzz/corpus/NAME; what it learns goes to a scratch corpus beside the build, never into the
# repository.  usage: scripts/fuzz.sh NATIVE_BUILD_DIR NAME SECONDS
set -euo pipefail
native=$1 name=$2 seconds=$3
here=$(cd "$(dirname "$0")/.." && pwd)
scratch="$native/fuzz-corpus/$name"
mkdir -p "$scratch" "$here/fuzz/corpus/$name"
exec "$native/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$native/fuzz-crash-$name-" "$scratch" "$here/fuzz/corpus/$name"
