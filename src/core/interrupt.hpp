// A way for the embedding program to stop a load blocked in the operating system (a FIFO
// with no writer, a stalled network file): where a signal breaks a blocking open or read, its
// handlers get to run, and a handler that wants the load ended says so. Between reads nothing
// is asked, so that loads run without any lock of the caller's.
#pragma once

namespace morvex {

// Returns true when the load is to end. Called from the thread that loads, which may hold no
// lock of the caller's: the check takes what it needs (for Python, the interpreter lock).
using InterruptCheck = bool (*)();

void set_interrupt_check(InterruptCheck check);

// True when the check installed asks to end the load; false when none is installed.
bool interrupt_requested();

}  // namespace morvex
