"""talveron-dask: the terminal tool talveron run over a corpus on a Dask
cluster, with exactly the records of one talveron process.

The client lists the inputs with the tool itself (inputs), cuts the list into
batches (batches), has each batch searched on a worker by a talveron process
(worker), writes the batches' records and diagnostics in batch order
(output), shows a progress line (progress) and sums the summaries (stats);
run ties them together, cluster starts or reaches the cluster, options reads
the command line. edges() (frames) gives the same batches' records as a
Dask DataFrame, by talveron --json.
"""
from talveron_dask.frames import edges  # noqa: F401
