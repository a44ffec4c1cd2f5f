# Start-up, the plug-in's names and functions, the version text, shutdown.
host --ok "$QV_DEMO_BUILD/QV_Printer7.fmx" list
host --ok "$QV_DEMO_BUILD/QV_Printer7.fmx" call VEZederar-Version
