#!/usr/bin/env bash
# The main job: drives build/QV_Printer7.fmx through the bundled host, step by step (or the
# x86_64 test build's in QV_DEMO_BUILD, where 32-bit code cannot run). Each step lives in
# scripts/demo.d/, run in the order of their names, with the Wine loader in QV_WINE.
set -euo pipefail
cd "$(dirname "$0")/.."
export QV_DEMO_BUILD=${QV_DEMO_BUILD:-build}
export QV_WINE=${QV_WINE:-wine}

# Runs a Windows program under Wine and shows its output without CRs. Through a file, not a
# pipe: the Wine services that a run starts inherit a pipe and hold it open for seconds after
# the program has exited.
windows() {
  local output status=0
  output=$(mktemp)
  "$QV_WINE" "$@" >"$output" 2>&1 || status=$?
  tr -d '\r' <"$output"
  rm -f "$output"
  return "$status"
}
export -f windows

# Shows the command as one could type it, quoting the arguments that need it.
host() {
  local shown=plughost argument
  for argument in "$@"; do
    if [[ $argument =~ ^[A-Za-z0-9_./=:-]+$ ]]; then shown+=" $argument"; else shown+=" '$argument'"; fi
  done
  printf '\n$ %s\n' "$shown"
  windows "$QV_DEMO_BUILD/plughost.exe" "$@"
}
export -f host

for step in scripts/demo.d/*.sh; do
  source "$step"
done
