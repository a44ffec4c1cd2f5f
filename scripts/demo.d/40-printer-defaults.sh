# Functions 4 and 5: the copies and paper source that the spooler keeps as the test printer's
# global defaults, changed through the plug-in and read back, then put back as they were.
spoolinfo() {
  printf '\n$ spoolinfo %s\n' "$1"
  windows "$QV_DEMO_BUILD/spoolinfo.exe" "$1"
}

before=$(spoolinfo PDF)
printf '%s\n' "$before"
copies_before=$(printf '%s' "$before" | sed -n 's/.*copies \(-\{0,1\}[0-9]*\),.*/\1/p')
source_before=$(printf '%s' "$before" | sed -n 's/.*default source \(-\{0,1\}[0-9]*\)$/\1/p')

host --ok "$QV_DEMO_BUILD/QV_Printer7.fmx" call 5 'PDF|2'
spoolinfo PDF
host --ok "$QV_DEMO_BUILD/QV_Printer7.fmx" call 4 'PDF|4'
spoolinfo PDF
host --ok "$QV_DEMO_BUILD/QV_Printer7.fmx" call 5 'No Such Printer|2'

# Put the printer's defaults back.
host --ok "$QV_DEMO_BUILD/QV_Printer7.fmx" call 5 "PDF|${copies_before:-1}"
host --ok "$QV_DEMO_BUILD/QV_Printer7.fmx" call 4 "PDF|${source_before:-7}"
spoolinfo PDF
