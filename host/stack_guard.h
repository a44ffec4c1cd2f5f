// The stack protector's guard word, seeded on the host's first call.
#pragma once

// Seeds the guard the first time it is called; later calls do nothing. The entry point calls
// it before anything else, while no protected frame of the plug-in exists, so no frame can see
// the word change under it. Loading the library runs nothing of the plug-in's own.
extern "C" void SeedStackGuardOnce();
