#pragma once
// File descriptors as a limited resource: a flood of viewers must not leave
// the program unable to open a log, a serial port or a look-up thread's pipes.
namespace descriptors {

// Raises the soft limit of open descriptors to the hard one. False when the
// limit could not be read or set.
bool raiseLimit();

// Keeps one descriptor in reserve so that connections can still be refused
// when none is left. Idempotent.
void reserve();

// Accepts and closes every connection waiting on the listening socket, using
// the reserved descriptor; the number closed, or -1 when nothing could be done.
int refuseWaiting(int listenFd);

// At least n descriptors can be opened now.
bool available(int n);

} // namespace descriptors
