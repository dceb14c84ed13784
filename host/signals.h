// The signals that end a run: the temporary files of the run are removed
// and the progress line erased before the signal takes its usual course.
// A signal that was ignored when talveron started (nohup, a script's
// `cmd &`) stays ignored.
#ifndef TALVERON_HOST_SIGNALS_H
#define TALVERON_HOST_SIGNALS_H

void InstallSignalHandlers();

// Registers a temporary file to remove if a signal ends the run; returns
// its slot, or -1 when no slot is free or the name is too long.
int HoldTemporary(const char* path);
void ReleaseTemporary(int slot);

// While a file is written into in place, an ending signal waits: a file cut
// half-way would hold neither its old contents nor the new ones. Such a
// signal, from any thread, is acted on when the wait ends.
void HoldEndingSignals();
void ReleaseEndingSignals();

#endif
