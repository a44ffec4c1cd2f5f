#!/usr/bin/env bash
# The main job: drives build/QV_Printer7.fmx through the bundled host, step by step.
# Each step lives in scripts/demo.d/, run in the order of their names.
set -euo pipefail
cd "$(dirname "$0")/.."

host() {
  printf '\n$ plughost %s\n' "$*"
  wine build/plughost.exe "$@" 2>&1 | tr -d '\r'
}
export -f host

for step in scripts/demo.d/*.sh; do
  source "$step"
done
