"""The inputs of a run: named by talveron itself, so that the walk of the
directories (its order, what it takes and passes over) is the tool's own, byte
for byte, and sized here for the batches."""
import os
import stat
import subprocess


USAGE_HINT = b"Try 'talveron --help'"


class Listing:
    def __init__(self, names, diagnostics, status):
        self.names = names              # the inputs' names, bytes, in the order of the run
        self.diagnostics = diagnostics  # what talveron said on stderr
        self.status = status            # its exit status: 0, or 2 (trouble, or a usage error)

    def usage_error(self):
        """A usage error found by talveron (the keywords, a glob): nothing
        is listed then, and its message ends with the hint to --help."""
        return self.status == 2 and not self.names and USAGE_HINT in self.diagnostics


def list_inputs(talveron, walk_args, operands):
    """Runs `talveron --list-inputs` with the options of the walk (and the
    keywords, so that talveron checks them as a search would)."""
    argv = [talveron, "--list-inputs"] + list(walk_args) + ["--"] + list(operands)
    done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    names = done.stdout.split(b"\0")
    if names and names[-1] == b"":
        names.pop()
    return Listing(names, done.stderr, done.returncode)


def output_identity(path=None):
    """(device, inode) of where the records go when it is a regular file --
    FILE of --output as it is before the run (through a link; /dev/stdout
    and the like are their descriptor), else standard output -- or None: an
    input that is that file is not searched, as with talveron, which would
    read its own output or replace an input with it."""
    from talveron_dask.output import aliased_descriptor
    alias = aliased_descriptor(path) if path is not None else 1
    try:
        st = os.stat(path) if alias is None else os.fstat(alias)
    except OSError:
        return None
    return (st.st_dev, st.st_ino) if stat.S_ISREG(st.st_mode) else None


def sizes(names, destination=None):
    """Each input's size in bytes (0 when it cannot be looked at: it fails
    later, where it is searched), and whether it is the file `destination`
    names, as a list of (size, is_destination)."""
    out = []
    for name in names:
        try:
            st = os.stat(name)
        except (OSError, ValueError):
            out.append((0, False))
            continue
        same = destination is not None and (st.st_dev, st.st_ino) == destination
        out.append((st.st_size if stat.S_ISREG(st.st_mode) else 0, same))
    return out
