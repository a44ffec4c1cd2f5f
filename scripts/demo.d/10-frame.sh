# Start-up, the plug-in's names and functions, the version text, shutdown.
host --ok build/QV_Printer7.fmx list
host --ok build/QV_Printer7.fmx call VEZederar-Version
