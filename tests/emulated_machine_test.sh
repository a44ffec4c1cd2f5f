#!/usr/bin/env bash
# The emulated machine fails loudly and leaves nothing running: a job's status and output come
# back, and a machine that does not boot or get ready, a probe that answers no inside it, a job
# that runs past the limit or prints nothing for too long (while one that goes on printing
# lives) and results that never come back each fail with their own line; a run stopped from
# outside leaves no emulator, and a making that fails part way leaves no machine.
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

# Through a project path with a space, which the machine's first process must survive.
ln -s "$project" "$work/a project"
(
  source "$work/a project/scripts/emulated_machine.sh"
  check status_and_output 'echo the job ran; exit 3' 3 'the job ran' ''
  exit "$failures"
) || failures=$((failures + 1))
check results_that_never_come_back 'echo powering off; sync; echo o >/proc/sysrq-trigger; sleep 60' \
  1 'powering off' "the emulated machine's results did not come back"
QV_EMULATED_LIMIT=5 check job_past_the_limit 'sleep 600' 1 '' 'the job ran longer than 5 s in the emulated machine'
QV_EMULATED_QUIET_LIMIT=10 check silent_job 'echo started; sleep 600' 1 'started' \
  'the job printed nothing for 10 s in the emulated machine'
QV_EMULATED_QUIET_LIMIT=10 check job_that_goes_on_printing \
  'for tick in $(seq 1 25); do echo "tick $tick"; sleep 1; done' 0 'tick 25' ''
QV_EMULATED_BOOT_LIMIT=0 check no_boot 'echo never' 1 '' 'did not boot within 0 s'

# A machine whose probe answers no: the same machine with another probe.
fake=$work/machine
mkdir -p "$fake"
for part in vmlinuz initrd.img layer recipe; do ln -s "$QV_EMULATED_DIR/$part" "$fake/$part"; done
printf '#!/bin/sh\necho "the far call into 32-bit code faulted" >&2\nexit 1\n' >"$fake/executes_i686"
chmod +x "$fake/executes_i686"
QV_EMULATED_DIR=$fake check probe_says_no 'echo never' 1 '' \
  'the probe answered no inside the emulated machine: the far call into 32-bit code faulted'
# And one that hangs while making ready for the job.
printf '#!/bin/sh\nsleep 600\n' >"$fake/executes_i686"
QV_EMULATED_DIR=$fake QV_EMULATED_BOOT_LIMIT=60 check not_ready 'echo never' 1 '' \
  'the emulated machine was not ready for the job within 60 s of booting'

# A making that goes wrong part way leaves nothing that a later run takes as made. apt and
# dpkg-deb stand in for themselves without a download: the kernel and its modules come from the
# made machine, and the Wine layer is a stub. Each case breaks one step (none: the stubs make a
# machine).
made=$QV_EMULATED_DIR
for broken in none wine_packages initramfs; do
  (
    QV_EMULATED_DIR=$work/made_with_broken_$broken
    apt-cache() { echo "  Depends: linux-image-0-amd64"; }
    apt-get() {
      local a
      for a; do
        case "$a" in
          download) touch linux-image-0-amd64_0_amd64.deb ;;
          Dir::Cache::archives=*) touch "${a#*=}/wine32_0_i386.deb" ;;
        esac
      done
    }
    dpkg() { echo i386; }
    dpkg-deb() {
      case "$2" in
        *linux-image*)
          mkdir -p "$3/boot" "$3/lib/modules/0"
          cp "$made/vmlinuz" "$3/boot/vmlinuz-0"
          (cd "$3/lib/modules/0" && gzip -dc "$made/initrd.img" | command cpio -id --quiet 'modules/*.ko')
          ;;
        *)
          if [ "$broken" = wine_packages ]; then echo "No space left on device" >&2; return 2; fi
          mkdir -p "$3/usr/lib/wine" "$3/usr/lib/i386-linux-gnu/wine/i386-windows"
          install /dev/null "$3/usr/lib/wine/wine"
          ;;
      esac
    }
    cpio() { [ "$broken" != initramfs ] || return 1; command cpio "$@"; }
    emulated_machine_make >"$QV_EMULATED_DIR.log" 2>&1
    status=$?
    if [ "$broken" = none ]; then
      [ "$status" = 0 ] && [ -f "$QV_EMULATED_DIR/recipe" ] && exit 0
      echo "FAILED making_with_stubs: status $status, the stubs made no machine"
    else
      [ "$status" != 0 ] && [ ! -e "$QV_EMULATED_DIR" ] && [ -z "$(ls -d "$QV_EMULATED_DIR".new.* 2>/dev/null)" ] && exit 0
      echo "FAILED making_with_broken_$broken: status $status; left: $(ls -d "$QV_EMULATED_DIR"* | tr '\n' ' ')"
    fi
    sed 's/^/  | /' "$QV_EMULATED_DIR.log"
    exit 1
  ) && echo "ok making_with_broken_$broken" || failures=$((failures + 1))
done

# A run that is stopped from outside leaves no emulator: TERM and HUP (a closed terminal) run
# the caller's EXIT trap, KILL runs nothing of the caller's.
for signal in TERM HUP KILL; do
  results=$work/killed_by_$signal
  mkdir -p "$results"
  bash -c 'source "$1/scripts/emulated_machine.sh"
    trap "touch \"$2/caller-exit-trap\"" EXIT
    emulated_machine_run "$2" / "sleep 600"' - "$project" "$results" >"$results.out" 2>&1 &
  caller=$!
  # Once the emulator runs; it need not have booted.
  for _ in $(seq 1 60); do pgrep -f -- "path=$results," >/dev/null && break; sleep 0.5; done
  sleep 2
  kill -"$signal" "$caller"
  wait "$caller" 2>/dev/null
  fault=
  for _ in $(seq 1 10); do pgrep -f -- "path=$results," >/dev/null || break; sleep 1; done
  if pgrep -f -- "path=$results," >/dev/null; then
    fault+=" an emulator is still running"
    kill $(pgrep -f -- "path=$results,") 2>/dev/null
  fi
  if [ "$signal" != KILL ] && [ ! -e "$results/caller-exit-trap" ]; then
    fault+=" the caller's EXIT trap did not run"
  fi
  if [ -n "$fault" ]; then
    echo "FAILED killed_by_$signal:$fault"
    sed 's/^/  | /' "$results.out"
    failures=$((failures + 1))
  else
    echo "ok killed_by_$signal"
  fi
done

[ "$failures" -eq 0 ]
