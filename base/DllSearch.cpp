#include "base/DllSearch.h"

// The program's load configuration, under the name the PE's load-config directory is
// filled from (the MinGW-w64 runtime defines none): after each link,
// scripts/pe-load-config.sh points the directory here, as GNU ld 2.40 does not. The loader
// reads DependentLoadFlags when it resolves the imports, before the program starts; the
// fields left zero mean what they mean in an image without the directory: no security
// cookie, no safe exception-handler table, no control-flow guard. Size is that of the
// structure as declared here, which the loader takes as its version. The link keeps the
// symbol through -Wl,--require-defined (base/CMakeLists.txt), which also fails the link if
// this object were ever left out.
extern "C" {
extern const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used;
__attribute__((used)) constinit const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = {
    .Size = sizeof(IMAGE_LOAD_CONFIG_DIRECTORY),
    .Reserved1 = static_cast<WORD>(kSystemDllSearch),  // DependentLoadFlags, by its older name
};
}

void RestrictDllSearchToSystem() { SetDefaultDllDirectories(kSystemDllSearch); }
