#!/usr/bin/env bash
# The main job: drives build/QV_Printer7.fmx through the bundled host, step by step.
# Each step lives in scripts/demo.d/, run in the order of their names.
set -euo pipefail
cd "$(dirname "$0")/.."

# Shows the command as one could type it, quoting the arguments that need it.
host() {
  local shown=plughost argument
  for argument in "$@"; do
    if [[ $argument =~ ^[A-Za-z0-9_./=:-]+$ ]]; then shown+=" $argument"; else shown+=" '$argument'"; fi
  done
  printf '\n$ %s\n' "$shown"
  wine build/plughost.exe "$@" 2>&1 | tr -d '\r'
}
export -f host

for step in scripts/demo.d/*.sh; do
  source "$step"
done
