// External function 0: the plug-in's name and version.
#pragma once

#include "call_record.h"

void ReturnVersionText(HostHandle resultHandle);
