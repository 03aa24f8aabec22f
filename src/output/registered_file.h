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

// Reserves the snapshot names F_x<i>.dat of the current folder for this run,
// until it ends (a lock on the folder: snapshot names carry no run name, so
// runs of different names would replace each other's profiles). A folder
// held by another run is a stop with code 100 naming that run's process: the
// rate file's own stop (open_locked_file) when the other run has the same
// rate file `rate_name`, else one naming the snapshots. Nothing is written
// before. A file system without locks leaves the names unreserved. When the
// folder's F_x0.dat is newer than `rate_name` (or that does not exist), it
// was written by another run: a warning on standard error says it is replaced.
void reserve_snapshot_names(const char* rate_name);
