# Start-up, the plug-in's names and functions, the version text, shutdown.
host build/QV_Printer7.fmx list
host build/QV_Printer7.fmx call VEZederar-Version
