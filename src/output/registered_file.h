// Opening files through the name check and the registry of opened files.
#pragma once

#include <cstdio>
#include <string>

// Opens `name` with `mode` ("r" or "w+") and appends "name (mode);\n" to the
// registry __outfilenames when it fits. A name of 600 characters or more, or
// a file that cannot be opened, is a fatal stop with code 100. The caller
// owns and closes the stream.
FILE* open_registered_file(const char* name, const char* mode);

// The rate file of a run: opened for writing and locked against every other
// run before it is emptied. A file that another process holds locked is not
// touched: the stop (code 100) names the file and that process. A file
// system without locks leaves the file unlocked.
FILE* open_locked_file(const char* name);

// A data file written under no name (or a temporary one) and given its own
// name only when complete (data_file.h: install_pending_file), so that a run
// stopped while writing it leaves the earlier file or none, never a cut one.
// A name that already is a link, device or pipe is written through in place.
struct pending_file {
  FILE* stream = nullptr;
  std::string name;       // the file's own name
  std::string folder;     // the folder of `name`, ending in '/', or empty for the current one
  std::string temporary;  // its temporary name while it has one
  bool in_place = false;  // written through the existing name
};

// Opens a pending file for `name` (mode "w+" in the registry); the name
// check and the stops of open_registered_file.
pending_file open_pending_file(const char* name);
