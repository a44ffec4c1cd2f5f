// The plug-in's format record as it is stored and held in memory.
#include "format_record.h"
