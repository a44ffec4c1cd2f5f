# Function 1: the running product's own "Printer" preference, for the host version the caller
# names. The product comes from the active window's title: " Advanced" is dropped, so the
# value lands under "FileMaker Pro". Start-up has created the plug-in's own record as well.
host --ok --window-title 'FileMaker Pro Advanced - [Contacts]' "$QV_DEMO_BUILD/QV_Printer7.fmx" \
  call VEZederar-SetPrinter 'PDF|7.0'

printf '\n$ reg query "HKCU\\Software\\FileMaker\\FileMaker Pro\\7.0\\Preferences" /v Printer\n'
windows reg query 'HKCU\Software\FileMaker\FileMaker Pro\7.0\Preferences' /v Printer

# The record is a length byte (0x10, shown as ^P) and the 16 characters of the default.
printf '\n$ reg query "HKCU\\...\\Tesmun Plugin\\2.0v1" /v format_string | cat -v\n'
windows reg query 'HKCU\Software\FileMaker\FileMaker Pro\5.5\PlugIns\Tesmun Plugin\2.0v1' \
  /v format_string | cat -v

# A key path longer than 255 characters (here from a very long window title) is never cut
# short: nothing is written, and the error box says so (the bundled host reports and answers it).
host --ok --window-title "FileMaker Pro $(printf 'x%.0s' $(seq 240))" "$QV_DEMO_BUILD/QV_Printer7.fmx" \
  call VEZederar-SetPrinter 'PDF|7.0'
