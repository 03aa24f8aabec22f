// Opening files through the name check and the registry of opened files.
#pragma once

#include <cstdio>

// Opens `name` with `mode` ("r" or "w+") and appends "name (mode);\n" to the
// registry __outfilenames when it fits. A name of 600 characters or more, or
// a file that cannot be opened, is a fatal stop with code 100. The caller
// owns and closes the stream.
FILE* open_registered_file(const char* name, const char* mode);
