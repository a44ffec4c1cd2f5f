// The plug-in's own per-user preference record, made sure of at every accepted start-up.
#pragma once

#include "format_record.h"

// The record of this process; the default until a stored record has been read.
extern FormatPreference formatPreference;

// Sets the record to its default text.
void ResetFormatPreference();

// Creates the record's registry key with the default on the first start, reads the stored
// record back on later ones, and shows every registry failure in the error box.
void LoadFormatPreference();
