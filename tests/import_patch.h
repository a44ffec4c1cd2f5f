// Replaces functions in a loaded module's import address table, to count and fail the
// platform calls that the plug-in makes without any test seam in its code.
#pragma once

#include <windows.h>

// Points `module`'s import of `function` (by name, from any library) at `replacement` and
// returns the address it held, or null when the module does not import it.
void* PatchImport(HMODULE module, const char* function, void* replacement);

// A patch that lasts for the life of the object.
template <typename Function> class ImportHook {
  public:
    ImportHook(HMODULE module, const char* function, Function replacement)
        : module_(module), function_(function),
          original_(reinterpret_cast<Function>(
              PatchImport(module, function, reinterpret_cast<void*>(replacement)))) {}
    ~ImportHook() {
        if (original_ != nullptr)
            PatchImport(module_, function_, reinterpret_cast<void*>(original_));
    }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return original_ != nullptr; }
    Function Original() const { return original_; }

  private:
    HMODULE module_;
    const char* function_;
    Function original_;
};
