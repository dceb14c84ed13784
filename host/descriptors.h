// Standard input, output and error as talveron finds them. One that is
// closed (cmd >&-, 2>&-, <&-) is held by /dev/null at once, so that no
// file the run opens takes its number (records would go into the
// --rejected file, messages into the output file); a run that needs it
// fails with "Bad file descriptor".
#ifndef TALVERON_HOST_DESCRIPTORS_H
#define TALVERON_HOST_DESCRIPTORS_H

#include "options.h"

struct StandardDescriptors {
    bool open[3] = {true, true, true};
};

StandardDescriptors HoldStandardDescriptors();

// False, with a diagnostic shown where it can be, when the run needs a
// descriptor that was closed.
bool CheckNeededDescriptors(const StandardDescriptors& standard, const Options& options, Command command);

#endif
