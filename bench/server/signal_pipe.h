// Signals turned into bytes on a pipe, so that a poll loop sees them among its
// other descriptors: the handler only writes the signal's number.
#pragma once

namespace bench {

// Opens the pipe (non-blocking, closed on exec) once; throws when it cannot.
void signal_pipe_open();
// Routes a signal to the pipe; system calls it interrupts are restarted.
void signal_pipe_catch(int sig);
// The read end: each byte read from it is the number of a signal that came.
int signal_pipe_fd();

} // namespace bench
