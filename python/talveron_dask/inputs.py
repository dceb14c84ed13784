"""The inputs of a run: named by talveron itself, so that the walk of the
directories (its order, what it takes and passes over) is the tool's own, byte
for byte, and sized here for the batches."""
import os
import stat
import subprocess


class Listing:
    def __init__(self, names, diagnostics, status):
        self.names = names              # the inputs' names, bytes, in the order of the run
        self.diagnostics = diagnostics  # what talveron said on stderr (a directory it could not walk)
        self.status = status            # its exit status: 0, 1 (a walk failed) or 2 (usage)


def keyword_arguments(keywords):
    return [f"--exclude={word}" for word in keywords]


def list_inputs(talveron, keywords, operands):
    """Runs `talveron --list-inputs`; the keywords go along so that talveron
    checks them as a search would (a usage error comes back as status 2)."""
    argv = [talveron, "--list-inputs"] + keyword_arguments(keywords) + ["--"] + list(operands)
    done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    names = done.stdout.split(b"\0")
    if names and names[-1] == b"":
        names.pop()
    return Listing(names, done.stderr, done.returncode)


def output_identity(path=None):
    """(device, inode) of where the records go when it is a regular file --
    FILE of -o as it is before the run, else standard output -- or None: an
    input that is that file is not searched, as with talveron, which would
    read its own output or replace an input with it."""
    try:
        st = os.stat(path) if path is not None else os.fstat(1)
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
