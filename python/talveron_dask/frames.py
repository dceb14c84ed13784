"""talveron_dask.edges(): a corpus's links as a Dask DataFrame, one partition
per batch of talveron-dask, each made on a worker by `talveron --json`.

The workers need only Python with pandas and the talveron program: the
function that runs there (batch_frame) travels with its tasks by value."""
import json
import os
import subprocess
import uuid

# The columns, as the keys of talveron --json; strings may be missing (<NA>).
COLUMNS = ("page", "url", "href", "element", "attribute", "text", "rel", "offset")


def dtypes():
    """Each column's pandas dtype: nullable strings, and a nullable integer
    offset (none by the module's rules)."""
    return {name: ("Int64" if name == "offset" else "string") for name in COLUMNS}


def empty_frame():
    import pandas
    return pandas.DataFrame({name: pandas.Series([], dtype=dtype) for name, dtype in dtypes().items()})


def frame_of(lines):
    """A DataFrame of talveron --json's output (bytes, one object a line)."""
    import pandas
    columns = {name: [] for name in COLUMNS}
    for line in lines.splitlines():
        if not line:
            continue
        record = json.loads(line)
        for name in COLUMNS:
            columns[name].append(record.get(name))
    return pandas.DataFrame({name: pandas.Series(columns[name], dtype=dtype) for name, dtype in dtypes().items()})


def batch_frame(talveron, argv, names, cwd):
    """Runs `talveron ARGV --files0-from=-` in `cwd` over the batch's `names`
    (each ended by a 0 byte; a lone one as an operand, as talveron-dask
    gives it) and returns its records as a DataFrame. Raises RuntimeError
    with talveron's diagnostics when it exits with 2 or more (a type every
    worker and scheduler has, whatever they import)."""
    lone = names.count(b"\0") == 1
    given = ["--", os.fsdecode(names[:-1])] if lone else ["--files0-from=-"]
    done = subprocess.run([talveron] + list(argv) + given, input=None if lone else names,
                          stdin=subprocess.DEVNULL if lone else None, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, cwd=cwd)
    if done.returncode not in (0, 1):
        raise RuntimeError(done.stderr.decode("utf-8", "replace").strip()
                           or f"talveron exited with status {done.returncode}")
    return frame_of(done.stdout)


def edges(paths, html=False, base=None, keywords=(), https=False, links=None, unique=False, no_fragment=False,
          status=None, search_zip=False, batch_bytes=None, talveron=None, client=None):
    """The records of talveron --json over `paths` (files and directories,
    walked as talveron walks them) as a dask.dataframe.DataFrame with the
    columns of COLUMNS (nullable strings; offset a nullable integer): one
    partition per batch of about `batch_bytes` of input (talveron-dask's
    --batch-bytes, 256M by default), in the order of the inputs. Nothing is
    searched until the frame is computed; each partition is then one
    talveron process on a worker. With `client`, the partitions are
    computed on that cluster at once (client.persist) and the frame holds
    their results there.

    The options are talveron's: html (--html), base (--base=URL), keywords
    (-x WORD each), https (--https), links (--links=LIST, a list of names
    or a comma list), unique (--unique), no_fragment (--no-fragment),
    status (--status=LIST), search_zip (-z); `talveron` the program (by
    default the one on PATH, at the same path on every worker). The inputs
    and the current folder must be at the same paths on every worker, as
    for talveron-dask.

    Raises ValueError, with talveron's message, for options talveron
    refuses, and RuntimeError with talveron's diagnostics for inputs that
    cannot be listed; computing raises RuntimeError for a batch whose
    talveron found trouble (an input that cannot be read)."""
    import dask
    import dask.dataframe

    from talveron_dask import batches as batching
    from talveron_dask import inputs
    from talveron_dask.options import DEFAULT_BATCH_BYTES, base_refusal, find_talveron, UsageError

    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    operands = [os.fsdecode(p) for p in paths]
    if not operands:
        raise ValueError("edges() needs at least one path")
    try:
        program = find_talveron(talveron, None)
    except UsageError as e:
        raise ValueError(str(e))
    both = [f"--exclude-keyword={word}" for word in ([keywords] if isinstance(keywords, str) else keywords)]
    if html:
        both.append("--html")
    if base is not None:
        both.append(f"--base={base}")
    if links is not None:
        both.append("--links=" + (links if isinstance(links, str) else ",".join(links)))
    if unique:
        both.append("--unique")
    if no_fragment:
        both.append("--no-fragment")
    if status is not None:
        both.append("--status=" + (status if isinstance(status, str) else ",".join(str(s) for s in status)))
    if search_zip:
        both.append("-z")
    if https:
        both.append("--https")

    class Given:
        pass

    given = Given()
    given.base, given.inputs, given.files0_from = base, operands, None
    refusal = base_refusal(given)
    if refusal:
        raise ValueError(refusal)
    listing = inputs.list_inputs(program, both, operands)
    said = listing.diagnostics.decode("utf-8", "replace").strip()
    if listing.usage_error():
        raise ValueError(said.split("\n")[0].replace("talveron: ", "", 1))
    if listing.status not in (0, 1) or said:
        raise RuntimeError(said or f"talveron --list-inputs exited with status {listing.status}")
    sizes = inputs.sizes(listing.names)
    cut = batching.make_batches(listing.names, sizes, batch_bytes or DEFAULT_BATCH_BYTES)
    # --json names every record's page: the input as listed, or a web
    # archive's record's URI.
    argv = ["--json", "--no-progress", "-j1"] + both
    cwd = os.getcwd()

    run = dask.delayed(_by_value(batch_frame), pure=False)
    token = uuid.uuid4().hex[:12]
    parts = [run(program, argv, batch.stdin_bytes(), cwd, dask_key_name=f"talveron-edges-{token}-{batch.index}")
             for batch in cut]
    if not parts:
        frame = dask.dataframe.from_pandas(empty_frame(), npartitions=1)
    else:
        frame = dask.dataframe.from_delayed(parts, meta=empty_frame(), verify_meta=False)
    return client.persist(frame) if client is not None else frame


def _by_value(function):
    """`function` as the tasks carry it: by value, with the code of this
    module, so that neither the scheduler (which unpacks the graph) nor a
    worker needs talveron_dask. A function of its own here, which pickle
    cannot name, makes distributed use cloudpickle for the graph, and
    cloudpickle takes the module registered by value."""
    import sys

    import cloudpickle
    cloudpickle.register_pickle_by_value(sys.modules[__name__])

    def task(*args):
        return function(*args)
    return task
