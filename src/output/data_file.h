// Checked flushing and closing of data files.
//
// stdio reports a failed write only at a flush or close; these check it and
// stop the run with exit_status::write_error and a line naming the file and
// the system's reason, so a data file is never silently incomplete. A
// regular file that a failed write left with the start of a line is first
// cut back to its last complete line: a reader never sees half a number.
#pragma once

#include <cstdio>

#include "output/registered_file.h"

void flush_data_file(FILE* stream, const char* name);
void close_data_file(FILE* stream, const char* name);

// Flushes a complete pending file (registered_file.h), puts it in place
// under its own name, replacing any earlier file of that name in one step,
// and closes it.
void install_pending_file(pending_file& file);
