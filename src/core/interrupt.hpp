// A way for the embedding program to stop a long load: its signal handlers get to run
// between reads, and a handler that wants the load ended says so.
#pragma once

namespace morvex {

// Returns true when the load is to end. Called with whatever the caller holds while loading
// (for Python, the interpreter lock), from the thread that loads.
using InterruptCheck = bool (*)();

void set_interrupt_check(InterruptCheck check);

// True when the check installed asks to end the load; false when none is installed.
bool interrupt_requested();

}  // namespace morvex
