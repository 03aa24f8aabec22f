// The console: standard input, output and error of the process.
//
// A descriptor 0, 1 or 2 that is closed when the program starts would be
// handed to the first file opened, and the console text would then be written
// into a data file. They are opened on /dev/null first. A closed pipe on
// standard output is a write error like any other, not a kill by SIGPIPE:
// the run goes on, its data lines are written, and the exit status says
// that the console text was lost.
#pragma once

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, and
// ignores SIGPIPE and SIGXFSZ (a write past the file-size limit then fails
// with EFBIG like any write error). Called first in main, before anything
// is opened.
void guard_standard_streams();

// Flushes standard output; when any console text could not be written,
// reports it on standard error and returns false.
bool console_written();
