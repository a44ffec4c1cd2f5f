// The plug-in's own per-user preference record, made sure of at every accepted start-up.
#pragma once

#include "format_record.h"

// The record of this process; the default until a stored record has been read.
extern FormatPreference formatPreference;

void ResetFormatPreference();
void LoadFormatPreference();
