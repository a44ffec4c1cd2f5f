// Resource ids of the plug-in library, shared by the resource script and the code. The numbers
// are read by the host and the dialog manager, so they never change.
#pragma once

// Strings the host reads: the plug-in's name, its feature string, and the names of external
// functions 0, 1 and 2 (IDS_FUNCTION_NAME_BASE + n names function n).
#define IDS_PLUGIN_NAME 128
#define IDS_MAKER_NOTICE 129
#define IDS_FEATURE_STRING 131
#define IDS_FUNCTION_NAME_BASE 144
#define IDS_FUNCTION_VERSION 144
#define IDS_FUNCTION_SET_PRINTER 145
#define IDS_FUNCTION_SELECT_PRINTER 146

// Strings the plug-in reads itself.
#define IDS_VERSION_TEXT 200
#define IDS_ERROR_CAPTION 22005
#define IDS_ERROR_FORMAT 22006

// About dialog.
#define IDD_ABOUT 105
#define IDB_ABOUT_PICTURE 107
#define IDC_ABOUT_VERSION_LINE 206
#define IDC_ABOUT_NOTICE_LINE 204

#define IDI_PLUGIN 22001
