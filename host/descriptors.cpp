#include "descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "messages.h"
#include "replaced_file.h"

StandardDescriptors HoldStandardDescriptors() {
    StandardDescriptors standard;
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        standard.open[fd] = false;
        // The lowest free number is this one: the lower ones are open.
        int held = ::open("/dev/null", O_RDWR);
        if (held != fd && held != -1) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
    return standard;
}

bool CheckNeededDescriptors(const StandardDescriptors& standard, const Options& options, Command command) {
    bool needed[3] = {false, false, false};
    if (command == Command::kHelp || command == Command::kVersion) {
        needed[1] = true;
    } else {
        for (const std::string& input : options.inputs) needed[0] |= input == "-";
        needed[0] |= options.files0From == "-";
        needed[1] = options.listInputs || (options.output.empty() && !options.quiet && !options.outTxt);
        for (const std::string* file : {&options.output, &options.rejected}) {
            int fd = file->empty() ? -1 : AliasedDescriptor(*file);
            if (fd >= 0 && fd < 3) needed[fd] = true;
        }
        needed[2] |= options.stats || options.messages;
    }
    static const char* const kNames[] = {"standard input", "standard output", "standard error"};
    for (int fd = 0; fd < 3; ++fd) {
        if (needed[fd] && !standard.open[fd]) {
            Diagnose(kNames[fd], EBADF);
            return false;
        }
    }
    return true;
}
