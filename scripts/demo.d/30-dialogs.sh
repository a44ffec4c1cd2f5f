# The print-setup dialog, answered by the bundled host: choosing QVTest2 returns its device,
# driver and port; cancelling returns the text given as argument 1. Then the about box, closed
# with OK.
host --choose QVTest2 "$QV_DEMO_BUILD/QV_Printer7.fmx" call VEZederar-SelectPrinter "no printer chosen"
host --cancel "$QV_DEMO_BUILD/QV_Printer7.fmx" call VEZederar-SelectPrinter "no printer chosen"
host --ok "$QV_DEMO_BUILD/QV_Printer7.fmx" prefs
# Nobody answers the about box this time: the bundled host closes it after --wait seconds
# (with Cancel where a dialog has one) and ends with status 6.
host --wait 2 "$QV_DEMO_BUILD/QV_Printer7.fmx" prefs || echo "(exit status $?)"
