"""The inputs cut, in order, into contiguous batches of about a given size."""


class Batch:
    def __init__(self, index, names, size, refused=None):
        self.index = index
        self.names = names  # bytes each
        self.size = size    # bytes of input, as stat saw them
        # A batch of one input the client turns down itself, with talveron's
        # diagnostic for it: the file the records go to.
        self.refused = refused

    def stdin_bytes(self):
        """The batch's names for talveron --files0-from=-, each ended by a 0 byte."""
        return b"".join(name + b"\0" for name in self.names)

    def describe(self):
        """Its inputs, for a message: the first and the last."""
        first = self.names[0].decode(errors="replace")
        if len(self.names) == 1:
            return first
        last = self.names[-1].decode(errors="replace")
        return f"{first} .. {last} ({len(self.names):,} inputs)"


def make_batches(names, sized, batch_bytes):
    """`names` with their (size, is_destination) from inputs.sizes, as
    Batches: a batch is closed before the input that would take it past
    `batch_bytes`, so a page larger than that is a batch of its own; an
    input that is the output file is one too, refused."""
    batches = []
    current, current_size = [], 0

    def close():
        nonlocal current, current_size
        if current:
            batches.append(Batch(len(batches), current, current_size))
        current, current_size = [], 0

    for name, (size, is_destination) in zip(names, sized):
        if is_destination:
            close()
            diagnostic = b"talveron: " + name + b": input file is also the output\n"
            batches.append(Batch(len(batches), [name], 0, refused=diagnostic))
            continue
        if current and current_size + size > batch_bytes:
            close()
        current.append(name)
        current_size += size
    close()
    return batches
