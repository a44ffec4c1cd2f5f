#!/usr/bin/env bash
# Runs the library's link with SOURCE_DATE_EPOCH read from EPOCH_FILE; ld puts that time into
# the PE time stamps. Without a time the stamps are zero, which is as reproducible.
#   usage: link_at_source_date.sh EPOCH_FILE LINKER [ARGUMENTS...]
set -euo pipefail
epoch=$(cat "$1")
shift
if [ -n "$epoch" ]; then
  SOURCE_DATE_EPOCH=$epoch exec "$@"
fi
exec "$@" -Wl,--no-insert-timestamp
