"""Tracing across machines with Dask.

A batch of rays is cut into chunks of consecutive rays; each chunk is one
Dask task that traces it with ``System.trace`` on every core of the worker
it lands on. Rays do not interact, so the result equals one
``system.trace`` of the whole batch on one machine, bit for bit and in the
input order, whatever the chunks and however many workers there are.

The system travels as its description text at full precision
(``to_text(precision=17)``), never as a pickled C++ object; each worker
reads it once per distinct text and keeps it.

Functions
---------
trace
    Rays as numpy or Dask arrays in, a ``DistributedTraceResult`` of numpy
    arrays out (or, with ``as_dask=True``, a ``DaskTraceResult``).
trace_to_dask
    ``trace(..., as_dask=True)``: the result stays on the workers as Dask
    arrays, for batches larger than the client's memory.

A worker that dies costs only the chunks it held: the scheduler keeps every
chunk's rays in its task and traces them again elsewhere.
"""

import hashlib
import operator
import threading
import warnings

import numpy as np

from ._lumivex import System

__all__ = ["trace", "trace_to_dask", "DistributedTraceResult", "DaskTraceResult", "DEFAULT_CHUNK_SIZE"]

# Rays per task. A singlet ray costs about 0.5 us on a core and carries
# 48 B in (position, direction) and 92 B back, so a chunk of 2^17 rays is
# some 30 ms of tracing on a 2-core worker and about 18 MB on the wire:
# large enough that the few milliseconds a task costs the scheduler and the
# worker vanish, small enough that a batch of 10^7 rays is ~80 tasks, which
# balance over workers of unequal speed and lose little when a worker dies.
# Measured (bench/dask_bench.py --chunks, 10^6 rays, two workers on a
# loaded 2-core machine): 0.60, 0.90 and 0.43 M rays/s at 2^16, 2^17 and
# 2^18 rays per chunk, 0.6 or less elsewhere from 2^15 to 2^20.
DEFAULT_CHUNK_SIZE = 1 << 17

# How many chunks of a numpy batch are in flight per worker thread: one
# being traced, one on the wire, one waiting, so workers never idle while
# the client holds no more than a few chunks beyond its own arrays.
_IN_FLIGHT_PER_THREAD = 3

# One traced ray as it comes back from a worker: the last node of its beam
# and the element it failed at (-1: none).
RECORD = np.dtype([
    ("position", np.float64, (3,)),
    ("direction", np.float64, (3,)),
    ("polarization", np.float64, (3,)),
    ("intensity", np.float64),
    ("phase", np.float64),
    ("failed_element", np.int32),
])


# ---------------------------------------------------------------- workers

_systems = {}
_systems_lock = threading.Lock()
_SYSTEMS_KEPT = 16


def _system(key, text):
    """The system of this description, read once per worker process."""
    with _systems_lock:
        system = _systems.get(key)
        if system is None:
            system = System.from_text(text)
            if len(_systems) >= _SYSTEMS_KEPT:
                _systems.pop(next(iter(_systems)))
            _systems[key] = system
        return system


def _trace_chunk(key, text, wavelength, start, positions, directions, polarizations, intensities, phases):
    """Traces one chunk on a worker: (records, {row in chunk: message})."""
    system = _system(key, text)
    try:
        r = system.trace(positions, directions, wavelength=wavelength, polarizations=polarizations,
                         intensities=intensities, phases=phases, threads=0)
    except ValueError as e:
        # Row numbers in the message count from the chunk's first ray.
        raise ValueError(f"{e} (in the chunk of rays from {start})") from None
    out = np.empty(len(r), RECORD)
    out["position"] = r.position
    out["direction"] = r.direction
    out["polarization"] = r.polarization
    out["intensity"] = r.intensity
    out["phase"] = r.phase
    out["failed_element"] = r.failed_element
    messages = {int(i): r.message(int(i)) for i in np.flatnonzero(r.failed_element >= 0)}
    return out, messages


# ------------------------------------------------------------------ results

class DistributedTraceResult:
    """The rays of one distributed trace, gathered on the client.

    It reads like ``lumivex.TraceResult``: the same attributes and
    ``message(i)``, but the arrays are views of one record array assembled
    here rather than of the traced nodes, and ``beam(i)`` is not available
    (a distributed trace keeps only each ray's last node).

    Attributes
    ----------
    position, direction, polarization : ndarray, shape (N, 3)
    intensity, phase : ndarray, shape (N,)
    ok : ndarray of bool, shape (N,)
    failed_element : ndarray of int32, shape (N,)
        -1 when the ray did not fail.
    wavelength : float
    records : ndarray of RECORD, shape (N,)
        All of the above in one array.
    """

    def __init__(self, records, messages, wavelength):
        self.records = records
        self._messages = messages
        self.wavelength = float(wavelength)
        for name in ("position", "direction", "polarization", "intensity", "phase", "failed_element"):
            column = records[name]
            column.flags.writeable = False
            setattr(self, name, column)
        self.ok = self.failed_element < 0
        self.ok.flags.writeable = False

    nodes_kept = False

    def __len__(self):
        return len(self.records)

    def message(self, i):
        """Why ray i failed; '' when it did not."""
        n = len(self.records)
        if not -n <= i < n:
            raise IndexError("ray index out of range")
        return self._messages.get(int(i) % n, "")

    def __repr__(self):
        return f"DistributedTraceResult({len(self)} rays, {int((~self.ok).sum())} failed)"


class DaskTraceResult:
    """The rays of one distributed trace, left on the workers as Dask arrays.

    Nothing is traced until the arrays are computed; ``persist()`` traces
    and keeps the chunks on the workers, ``compute()`` gathers a
    ``DistributedTraceResult``.

    Attributes
    ----------
    position, direction, polarization : dask.array.Array, shape (N, 3)
    intensity, phase, ok, failed_element : dask.array.Array, shape (N,)
    records : dask.array.Array of RECORD, shape (N,)
    wavelength : float
    """

    def __init__(self, records, messages, wavelength):
        self.records = records
        self._messages = messages  # one Delayed per chunk
        self.wavelength = float(wavelength)
        self.position = records["position"]
        self.direction = records["direction"]
        self.polarization = records["polarization"]
        self.intensity = records["intensity"]
        self.phase = records["phase"]
        self.failed_element = records["failed_element"]
        self.ok = self.failed_element < 0

    def __len__(self):
        return int(self.records.shape[0])

    def message(self, i):
        """Why ray i failed; '' when it did not.

        Computes the messages of ray i's chunk, which traces that chunk again
        unless the result was persisted.
        """
        n = len(self)
        if not -n <= i < n:
            raise IndexError("ray index out of range")
        i = int(i) % n
        starts = np.cumsum((0,) + self.records.chunks[0])
        chunk = int(np.searchsorted(starts, i, side="right")) - 1
        return self._messages[chunk].compute().get(i - int(starts[chunk]), "")

    def persist(self, **kwargs):
        """Traces now and keeps the chunks (and their messages) on the workers."""
        import dask
        records, *messages = dask.persist(self.records, *self._messages, **kwargs)
        return DaskTraceResult(records, messages, self.wavelength)

    def compute(self, **kwargs):
        """Traces and gathers the whole result on the client."""
        import dask
        records, *messages = dask.compute(self.records, *self._messages, **kwargs)
        return DistributedTraceResult(records, _merge(messages, self.records.chunks[0]), self.wavelength)

    def __repr__(self):
        return f"DaskTraceResult({len(self)} rays in {len(self._messages)} chunks)"


def _merge(chunk_messages, chunks):
    messages, start = {}, 0
    for found, size in zip(chunk_messages, chunks):
        messages.update((start + i, m) for i, m in found.items())
        start += size
    return messages


# ---------------------------------------------------------------- the trace

def _description(system):
    if not isinstance(system, System):
        raise TypeError(f"system must be a lumivex.System, not {type(system).__name__}")
    try:
        text = system.to_text(precision=17)
    except ValueError as e:
        raise ValueError(f"this system cannot be traced on Dask workers: its description text "
                         f"cannot carry it ({e})") from None
    return hashlib.sha256(text.encode()).hexdigest(), text


def _current_client():
    from distributed import get_client
    try:
        return get_client()
    except ValueError:
        raise ValueError("no Dask client: connect one first (distributed.Client('tcp://scheduler:8786'), "
                         "or a LocalCluster) or pass client=") from None


def _is_dask(a):
    return a is not None and type(a).__module__.startswith("dask.")


def _rows(a, name, width, n=None):
    """The argument as float64 rows (numpy) or checked in shape only (Dask)."""
    if a is None:
        return None
    if not _is_dask(a):
        a = np.ascontiguousarray(a, dtype=np.float64)
    shape = (n, width) if width else (n,)
    if a.ndim != len(shape) or (width and a.shape[1] != width):
        raise ValueError(f"{name} must have shape {'(N, 3)' if width else '(N,)'}")
    if n is not None and a.shape[0] != n:
        raise ValueError(f"{name} has {a.shape[0]} rows, positions has {n}")
    return a


def _arguments(positions, directions, polarizations, intensities, phases):
    p = _rows(positions, "positions", 3)
    n = p.shape[0]
    return n, [p, _rows(directions, "directions", 3, n), _rows(polarizations, "polarizations", 3, n),
               _rows(intensities, "intensities", 0, n), _rows(phases, "phases", 0, n)]


def _chunk_size(chunk_size):
    size = DEFAULT_CHUNK_SIZE if chunk_size is None else int(chunk_size)
    if size < 1:
        raise ValueError(f"chunk_size must be at least 1, not {chunk_size}")
    return size


def _lazy_chunks(arrays, n, chunk_size):
    """Per chunk: (start, [Delayed or None per argument]) over aligned row chunks."""
    import dask.array as da
    first = next(a for a in arrays if _is_dask(a))
    rows = first.chunks[0] if chunk_size is None else da.core.normalize_chunks((chunk_size,), (n,))[0]
    blocks = []
    for a in arrays:
        if a is None:
            blocks.append(None)
            continue
        a = da.asarray(a).astype(np.float64)
        a = a.rechunk((rows,) + a.shape[1:])  # one chunk across the 3 components
        blocks.append(a.to_delayed().ravel())
    starts = np.cumsum((0,) + rows)[:-1]
    return rows, [(int(s), [None if b is None else b[j] for b in blocks]) for j, s in enumerate(starts)]


def trace(system, positions, directions, *, wavelength, polarizations=None, intensities=None, phases=None,
          client=None, chunk_size=None, as_dask=False):
    """Traces many rays of one wavelength through the system on Dask workers.

    Parameters
    ----------
    system : lumivex.System
        Sent to the workers as ``to_text(precision=17)``; a system holding
        an element the description text cannot carry is refused here,
        before anything is sent.
    positions, directions : array_like or dask.array.Array, shape (N, 3)
    wavelength : float
    polarizations : array_like or dask.array.Array, shape (N, 3), optional
        By default each worker makes System.trace's default for its chunk.
    intensities, phases : array_like or dask.array.Array, shape (N,), optional
        As in System.trace.
    client : distributed.Client, optional
        By default the current client (``distributed.get_client()``).
    chunk_size : int, optional
        Rays per task; by default ``DEFAULT_CHUNK_SIZE`` (2^17, the fastest
        measured on two workers: large enough that the cost per task
        vanishes, small enough to balance and to lose little to a dead
        worker). With Dask
        array inputs and no chunk_size, their own row chunks are kept.
    as_dask : bool
        Return a ``DaskTraceResult`` (nothing is traced until it is
        computed) instead of gathering the rays.

    Returns
    -------
    DistributedTraceResult or DaskTraceResult
        Bit for bit what ``system.trace`` gives on one machine, in the input
        order. The traced radii are not written back to the system's
        elements.

    Raises
    ------
    ValueError
        Without a Dask client, for a system the description text cannot
        carry, for a wrong shape or mismatched lengths, and for what
        System.trace refuses in a chunk (the message names the chunk's first
        ray; row numbers in it count from there).

    Notes
    -----
    Numpy inputs are sent chunk by chunk, a few chunks per worker thread in
    flight, each inside its task so that the scheduler can trace it again
    elsewhere if its worker dies. Dask array inputs are never gathered on
    the client: each chunk's task reads their blocks where they are.
    """
    key, text = _description(system)
    if not (wavelength > 0.0 and np.isfinite(wavelength)):
        raise ValueError(f"wavelength must be positive and finite, not {wavelength}")
    n, arrays = _arguments(positions, directions, polarizations, intensities, phases)
    lazy = any(_is_dask(a) for a in arrays)
    if as_dask:
        import dask.array as da
        if not lazy:
            arrays[0] = da.from_array(arrays[0], chunks=(_chunk_size(chunk_size), 3))
        if n == 0:
            empty = da.from_array(np.empty(0, RECORD))
            return DaskTraceResult(empty, [], wavelength)
        rows, chunks = _lazy_chunks(arrays, n, chunk_size if chunk_size is None else _chunk_size(chunk_size))
        return _as_dask(key, text, wavelength, rows, chunks)
    if client is None:
        client = _current_client()
    if n == 0:
        return DistributedTraceResult(np.empty(0, RECORD), {}, wavelength)
    if lazy:
        rows, chunks = _lazy_chunks(arrays, n, chunk_size if chunk_size is None else _chunk_size(chunk_size))
        tasks = _delayed_tasks(client, key, text, wavelength, chunks)
        window = None
    else:
        size = _chunk_size(chunk_size)
        tasks = ((s, [None if a is None else a[s:s + size] for a in arrays]) for s in range(0, n, size))
        threads = sum(client.nthreads().values()) or 1
        window = _IN_FLIGHT_PER_THREAD * threads
    return _gather(client, key, text, wavelength, n, tasks, window)


def trace_to_dask(system, positions, directions, *, wavelength, polarizations=None, intensities=None,
                  phases=None, chunk_size=None):
    """``trace(..., as_dask=True)``: the rays as Dask arrays, traced when computed."""
    return trace(system, positions, directions, wavelength=wavelength, polarizations=polarizations,
                 intensities=intensities, phases=phases, chunk_size=chunk_size, as_dask=True)


def _as_dask(key, text, wavelength, rows, chunks):
    import dask
    import dask.array as da
    records, messages = [], []
    for (start, blocks), size in zip(chunks, rows):
        name = f"lumivex-trace-{key[:12]}-{dask.base.tokenize(key, wavelength, start, *blocks)}"
        traced = dask.delayed(_trace_chunk, pure=True)(key, text, wavelength, start, *blocks,
                                                       dask_key_name=name)
        records.append(da.from_delayed(dask.delayed(operator.getitem)(traced, 0), (size,), RECORD))
        messages.append(dask.delayed(operator.getitem)(traced, 1))
    return DaskTraceResult(da.concatenate(records), messages, wavelength)


def _delayed_tasks(client, key, text, wavelength, chunks):
    import dask
    for start, blocks in chunks:
        yield start, client.compute(dask.delayed(_trace_chunk, pure=False)(key, text, wavelength, start, *blocks))


def _gather(client, key, text, wavelength, n, tasks, window):
    """Assembles the chunks in one record array as they come back."""
    from distributed import as_completed
    out = np.empty(n, RECORD)
    messages = {}
    starts = {}
    pending = iter(tasks)

    def submit():
        try:
            start, chunk = next(pending)
        except StopIteration:
            return None
        if window is None:
            future = chunk  # already a future of the Dask graph
        else:
            # The chunk rides in its task on purpose (the scheduler can trace it
            # again if its worker dies), so Dask's advice to scatter it is moot.
            with warnings.catch_warnings():
                warnings.filterwarnings("ignore", message="Large object")
                future = client.submit(_trace_chunk, key, text, wavelength, start, *chunk, pure=False)
        starts[future.key] = start
        return future

    first = []
    while window is None or len(first) < window:
        future = submit()
        if future is None:
            break
        first.append(future)
    running = as_completed(first)
    for future in running:
        records, found = future.result()
        start = starts.pop(future.key)
        out[start:start + len(records)] = records
        messages.update((start + i, m) for i, m in found.items())
        future.release()
        del records, found
        following = submit()
        if following is not None:
            running.add(following)
    return DistributedTraceResult(out, messages, wavelength)
