#!/usr/bin/env bash
# The emulated machine fails loudly and leaves nothing running: a job's status and output come
# back, and a machine that does not boot, a probe that answers no inside it, a job that runs
# past the limit and results that never come back each fail with their own line.
#   emulated_machine_test.sh PROJECT
set -uo pipefail
project=$1
source "$project/scripts/emulated_machine.sh"
if [ "$(cat "$project/build/executes-i686" 2>/dev/null)" = yes ]; then
  echo "skipped: this machine executes 32-bit x86 code, so it makes no emulated machine"
  exit 77
fi
if [ ! -f "$QV_EMULATED_DIR/recipe" ]; then
  echo "no emulated machine in $QV_EMULATED_DIR: set-up makes it"
  exit 1
fi

failures=0
work=$(mktemp -d /tmp/qvprinter-emulated-test.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Runs one job in a machine of its own; checks its status, what it printed, its error line, and
# that no emulator is left running.
check() {
  local name=$1 job=$2 want_status=$3 want_output=$4 want_error=$5
  local results=$work/$name status=0
  mkdir -p "$results"
  emulated_machine_run "$results" / "$job" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  local fault=
  [ "$status" = "$want_status" ] || fault="status $status, not $want_status"
  if [ -n "$want_output" ]; then
    grep -q -- "$want_output" "$work/$name.out" || fault+=" no \"$want_output\" in its output"
  fi
  if [ -n "$want_error" ]; then
    grep -q -- "$want_error" "$work/$name.err" || fault+=" no \"$want_error\" in its error line"
  fi
  if pgrep -f -- "path=$results," >/dev/null; then fault+=" an emulator is still running"; fi
  if [ -n "$fault" ]; then
    echo "FAILED $name:$fault"
    sed 's/^/  | /' "$work/$name.out" "$work/$name.err"
    failures=$((failures + 1))
  else
    echo "ok $name"
  fi
}

check status_and_output 'echo the job ran; exit 3' 3 'the job ran' ''
check results_that_never_come_back 'echo powering off; sync; echo o >/proc/sysrq-trigger; sleep 60' \
  1 'powering off' "the emulated machine's results did not come back"
QV_EMULATED_LIMIT=5 check job_past_the_limit 'sleep 600' 1 '' 'the job ran longer than 5 s in the emulated machine'
QV_EMULATED_BOOT_LIMIT=0 check no_boot 'echo never' 1 '' 'did not boot within 0 s'

# A machine whose probe answers no: the same machine with another probe.
fake=$work/machine
mkdir -p "$fake"
for part in vmlinuz initrd.img layer recipe; do ln -s "$QV_EMULATED_DIR/$part" "$fake/$part"; done
printf '#!/bin/sh\necho "the far call into 32-bit code faulted" >&2\nexit 1\n' >"$fake/executes_i686"
chmod +x "$fake/executes_i686"
QV_EMULATED_DIR=$fake check probe_says_no 'echo never' 1 '' \
  'the probe answered no inside the emulated machine: the far call into 32-bit code faulted'

[ "$failures" -eq 0 ]
