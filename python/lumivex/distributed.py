# SPDX-License-Identifier: Apache-2.0
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
irradiance
    ``lumivex.analysis.irradiance`` on the workers: each task makes, traces
    and bins its own range of the ray stream and sends back only its exact
    partial map, so the client holds the grid, never the rays.

A worker that dies costs only the chunks it held: numpy rays are sent again
from the client's arrays, the blocks of Dask array inputs are recomputed by
the scheduler.
"""

import hashlib
import operator
import threading
import warnings

import numpy as np

from ._lumivex import System

__all__ = ["trace", "trace_to_dask", "irradiance", "DistributedTraceResult", "DaskTraceResult",
           "DEFAULT_CHUNK_SIZE", "IRRADIANCE_CHUNK_SIZE"]

# Rays per task. A singlet ray costs about 0.5 us on a core and carries
# 48 B in (position, direction) and 92 B back, so a chunk of 2^17 rays is
# some 30 ms of tracing on a 2-core worker and about 18 MB on the wire:
# large enough that the few milliseconds a task costs the scheduler and the
# worker vanish, small enough that a batch of 10^7 rays is ~80 tasks, which
# balance over workers of unequal speed and lose little when a worker dies.
# It also keeps each result frame (11.5 MB) under the 32 MB up to which
# glibc learns to keep freed blocks for reuse; larger frames are fresh
# pages from the kernel every time, zeroed, and that zeroing, not moving
# the bytes, was most of what distribution cost. Measured on 10^7 rays, two
# workers on a 2-core machine with glibc keeping its blocks: 3.8 s at both
# 2^17 and 2^19 rays per chunk.
DEFAULT_CHUNK_SIZE = 1 << 17

# Rays per irradiance task. Nothing but the partial map travels, so a task
# can be long: 2^20 singlet rays are a few tenths of a second on a 2-core
# worker, and 10^8 rays about a hundred tasks.
IRRADIANCE_CHUNK_SIZE = 1 << 20

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
    """Traces one chunk on a worker: (nodes (n, 11), failed elements, {row in chunk: message}).

    The nodes go back as the traced batch's own buffer, not repacked: a
    contiguous array travels as one out-of-band frame.
    """
    system = _system(key, text)
    try:
        r = system.trace(positions, directions, wavelength=wavelength, polarizations=polarizations,
                         intensities=intensities, phases=phases, threads=0)
    except ValueError as e:
        # Row numbers in the message count from the chunk's first ray.
        raise ValueError(f"{e} (in the chunk of rays from {start})") from None
    failed = r.failed_element
    messages = {int(i): r.message(int(i)) for i in np.flatnonzero(failed >= 0)}
    return r.nodes, failed, messages


def _irradiance_chunk(key, text, wavelength, field_angle, seed, first, count, total, z, nx, ny, extent, threads):
    """Rays first ... first + count - 1 of the stream, made, traced and binned on a worker."""
    from ._lumivex import _analysis
    return _analysis.irradiance_stream(_system(key, text), wavelength, field_angle, seed, first, count, total, z,
                                       nx, ny, extent, threads)


def _irradiance_lens_chunk(lens, field, wavelength, seed, first, count, total, z, nx, ny, extent, threads):
    """Rays first ... first + count - 1 of a prescription's stream, aimed, traced and binned on a worker."""
    from ._lumivex import _analysis
    return _analysis.irradiance_lens_stream(lens, field, wavelength, seed, first, count, total, z, nx, ny, extent,
                                            threads)


def _irradiance_rays_chunk(key, text, wavelength, positions, directions, polarizations, intensities, z, nx, ny,
                           extent, max_intensity, threads):
    """Given rays traced and binned on a worker."""
    from ._lumivex import _analysis
    r = _system(key, text).trace(positions, directions, wavelength=wavelength, polarizations=polarizations,
                                 intensities=intensities, threads=threads)
    return _analysis.irradiance_nodes(r.nodes, r.failed_element, z, nx, ny, extent, 1.0, max_intensity)


def _records(nodes, failed):
    """The RECORD array of these nodes and failed elements (a copy)."""
    out = np.empty(len(failed), RECORD)
    out["position"] = nodes[:, 0:3]
    out["direction"] = nodes[:, 3:6]
    out["polarization"] = nodes[:, 6:9]
    out["intensity"] = nodes[:, 9]
    out["phase"] = nodes[:, 10]
    out["failed_element"] = failed
    return out


# ------------------------------------------------------------------ results

class DistributedTraceResult:
    """The rays of one distributed trace, gathered on the client.

    It reads like ``lumivex.TraceResult``: the same attributes and
    ``message(i)``, the arrays read-only views of one (N, 11) array of last
    nodes assembled here, but ``beam(i)`` is not available (a distributed
    trace keeps only each ray's last node).

    Attributes
    ----------
    nodes : ndarray, shape (N, 11)
        Each ray's last node: position, direction, polarization, intensity,
        phase.
    position, direction, polarization : ndarray, shape (N, 3)
    intensity, phase : ndarray, shape (N,)
    ok : ndarray of bool, shape (N,)
    failed_element : ndarray of int32, shape (N,)
        -1 when the ray did not fail.
    wavelength : float
    records : ndarray of RECORD, shape (N,)
        All of the above in one record array, made (copied) when asked for.
    """

    def __init__(self, nodes, failed, messages, wavelength):
        self.nodes = nodes
        self._messages = messages
        self.wavelength = float(wavelength)
        for a in (nodes, failed):
            a.flags.writeable = False
        self.position = nodes[:, 0:3]
        self.direction = nodes[:, 3:6]
        self.polarization = nodes[:, 6:9]
        self.intensity = nodes[:, 9]
        self.phase = nodes[:, 10]
        self.failed_element = failed
        self.ok = failed < 0
        self.ok.flags.writeable = False

    nodes_kept = False

    @property
    def records(self):
        return _records(self.nodes, self.failed_element)

    def __len__(self):
        return len(self.failed_element)

    def message(self, i):
        """Why ray i failed; '' when it did not."""
        n = len(self)
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
    nodes : dask.array.Array, shape (N, 11)
    position, direction, polarization : dask.array.Array, shape (N, 3)
    intensity, phase, ok, failed_element : dask.array.Array, shape (N,)
    records : dask.array.Array of RECORD, shape (N,)
    wavelength : float
    """

    def __init__(self, nodes, failed, messages, wavelength):
        self.nodes = nodes
        self._messages = messages  # one Delayed per chunk
        self.wavelength = float(wavelength)
        self.position = nodes[:, 0:3]
        self.direction = nodes[:, 3:6]
        self.polarization = nodes[:, 6:9]
        self.intensity = nodes[:, 9]
        self.phase = nodes[:, 10]
        self.failed_element = failed
        self.ok = failed < 0

    @property
    def records(self):
        import dask.array as da
        return da.map_blocks(_records, self.nodes, self.failed_element, dtype=RECORD, drop_axis=1)

    def __len__(self):
        return int(self.failed_element.shape[0])

    def message(self, i):
        """Why ray i failed; '' when it did not.

        Computes the messages of ray i's chunk, which traces that chunk again
        unless the result was persisted.
        """
        n = len(self)
        if not -n <= i < n:
            raise IndexError("ray index out of range")
        i = int(i) % n
        starts = np.cumsum((0,) + self.failed_element.chunks[0])
        chunk = int(np.searchsorted(starts, i, side="right")) - 1
        return self._messages[chunk].compute().get(i - int(starts[chunk]), "")

    def persist(self, **kwargs):
        """Traces now and keeps the chunks (and their messages) on the workers."""
        import dask
        nodes, failed, *messages = dask.persist(self.nodes, self.failed_element, *self._messages, **kwargs)
        return DaskTraceResult(nodes, failed, messages, self.wavelength)

    def compute(self, **kwargs):
        """Traces and gathers the whole result on the client."""
        import dask
        nodes, failed, *messages = dask.compute(self.nodes, self.failed_element, *self._messages, **kwargs)
        return DistributedTraceResult(nodes, failed, _merge(messages, self.failed_element.chunks[0]),
                                      self.wavelength)

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
        Rays per task; by default ``DEFAULT_CHUNK_SIZE`` (2^17: large
        enough that the cost per task vanishes, small enough to balance and
        to lose little to a dead worker). With Dask
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
    Numpy inputs are sent chunk by chunk straight to the worker that traces
    them, a few chunks per worker thread in flight, and the results come
    straight back into the arrays returned; a chunk whose worker dies is
    sent again from the client's arrays. Dask array inputs are never
    gathered on the client: each chunk's task reads their blocks where they
    are.
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
            return DaskTraceResult(da.from_array(np.empty((0, 11))), da.from_array(np.empty(0, np.int32)), [],
                                   wavelength)
        rows, chunks = _lazy_chunks(arrays, n, chunk_size if chunk_size is None else _chunk_size(chunk_size))
        return _as_dask(key, text, wavelength, rows, chunks)
    if client is None:
        client = _current_client()
    if n == 0:
        return DistributedTraceResult(np.empty((0, 11)), np.empty(0, np.int32), {}, wavelength)
    gathered = _Gathered(n)
    if lazy:
        import dask
        rows, chunks = _lazy_chunks(arrays, n, chunk_size if chunk_size is None else _chunk_size(chunk_size))
        gathered.from_graph(client, [(start, client.compute(dask.delayed(_trace_chunk, pure=False)(
            key, text, wavelength, start, *blocks))) for start, blocks in chunks])
    else:
        _Sender(client, key, text, wavelength, arrays, _chunk_size(chunk_size)).run(gathered)
    return DistributedTraceResult(gathered.nodes, gathered.failed, gathered.messages, wavelength)


def trace_to_dask(system, positions, directions, *, wavelength, polarizations=None, intensities=None,
                  phases=None, chunk_size=None):
    """``trace(..., as_dask=True)``: the rays as Dask arrays, traced when computed."""
    return trace(system, positions, directions, wavelength=wavelength, polarizations=polarizations,
                 intensities=intensities, phases=phases, chunk_size=chunk_size, as_dask=True)


def _as_dask(key, text, wavelength, rows, chunks):
    import dask
    import dask.array as da
    nodes, failed, messages = [], [], []
    for (start, blocks), size in zip(chunks, rows):
        name = f"lumivex-trace-{key[:12]}-{dask.base.tokenize(key, wavelength, start, *blocks)}"
        traced = dask.delayed(_trace_chunk, pure=True)(key, text, wavelength, start, *blocks,
                                                       dask_key_name=name)
        nodes.append(da.from_delayed(dask.delayed(operator.getitem)(traced, 0), (size, 11), np.float64))
        failed.append(da.from_delayed(dask.delayed(operator.getitem)(traced, 1), (size,), np.int32))
        messages.append(dask.delayed(operator.getitem)(traced, 2))
    return DaskTraceResult(da.concatenate(nodes), da.concatenate(failed), messages, wavelength)


class _Gathered:
    """The traced chunks, written in place into one result as they come back."""

    def __init__(self, n):
        self.nodes = np.empty((n, 11))
        self.failed = np.empty(n, np.int32)
        self.messages = {}

    def put(self, start, traced):
        nodes, failed, found = traced
        m = len(failed)
        self.nodes[start:start + m] = nodes
        self.failed[start:start + m] = failed
        self.messages.update((start + i, text) for i, text in found.items())

    def from_graph(self, client, futures):
        """Gathers the chunks of a Dask graph (the scheduler traces lost ones again)."""
        from distributed import as_completed
        starts = {future.key: start for start, future in futures}
        for future in as_completed([future for _, future in futures]):
            # Straight from the worker that holds it, not through the scheduler.
            self.put(starts[future.key], client.gather(future, direct=True))
            future.release()


class _Sender:
    """Numpy chunks sent straight from the client to the workers.

    Each chunk's rays are scattered to the least loaded worker and traced
    there by a task that depends on them, so they cross the network once
    rather than through the scheduler, and its result is fetched from that
    worker. A few chunks per worker thread are in flight, each its own
    coroutine on the client's event loop, so that sending, tracing and
    fetching overlap instead of taking turns. A worker that dies loses the
    rays it held, and the task that needed them is cancelled; the client
    sends them again from its own arrays.
    """

    def __init__(self, client, key, text, wavelength, arrays, size):
        self.client = client
        self.key, self.text, self.wavelength = key, text, wavelength
        self.arrays, self.size = arrays, size
        self.threads = {}
        self.load = {}  # chunks in flight, by worker

    def run(self, gathered):
        self.client.sync(self._run, gathered)

    async def _refresh(self):
        threads = await self.client.nthreads(asynchronous=True)
        self.threads = {w: max(int(t), 1) for w, t in threads.items()}
        self.load = {w: self.load.get(w, 0) for w in self.threads}

    async def _run(self, gathered):
        import asyncio
        await self._refresh()
        pending = list(range(0, len(gathered.failed), self.size))[::-1]
        window = _IN_FLIGHT_PER_THREAD * max(sum(self.threads.values()), 1)

        async def slot():
            while pending:
                start = pending.pop()
                gathered.put(start, await self._trace(start))

        slots = [asyncio.ensure_future(slot()) for _ in range(min(window, len(pending)))]
        try:
            done, _ = await asyncio.wait(slots, return_when=asyncio.FIRST_EXCEPTION)
            for s in done:
                s.result()  # raises what a chunk raised
        finally:
            for s in slots:
                s.cancel()

    async def _trace(self, start):
        """One chunk's traced (nodes, failed, messages), sent again as often as its worker dies."""
        from distributed import CancelledError
        chunk = [None if a is None else a[start:start + self.size] for a in self.arrays]
        while True:
            future, worker = await self._submit(start, chunk)
            try:
                return await self.client.gather(future, direct=True, asynchronous=True)
            except CancelledError:
                # Scattered rays die with their worker, and so does the task
                # that needed them: only the client still has them.
                await self._refresh()
            finally:
                future.release()
                if worker in self.load:
                    self.load[worker] -= 1

    async def _submit(self, start, chunk):
        for _ in range(3):
            if not self.threads:
                await self._refresh()
            if not self.threads:
                break
            worker = min(self.threads, key=lambda w: self.load[w] / self.threads[w])
            try:
                rays = await self.client.scatter([a for a in chunk if a is not None], workers=[worker],
                                                 direct=True, hash=False, timeout=5, asynchronous=True)
            except Exception:
                # Gone or paused since the client last asked: choose again.
                self.threads.pop(worker, None)
                await self._refresh()
                continue
            it = iter(rays)
            args = [None if a is None else next(it) for a in chunk]
            self.load[worker] += 1
            return self.client.submit(_trace_chunk, self.key, self.text, self.wavelength, start, *args,
                                      pure=False, workers=[worker]), worker
        # No worker to send the rays to (yet, with an adaptive cluster): they
        # ride in the task, for the scheduler to hand to the first worker.
        with warnings.catch_warnings():
            warnings.filterwarnings("ignore", message="Large object")
            return self.client.submit(_trace_chunk, self.key, self.text, self.wavelength, start, *chunk,
                                      pure=False), None


# ------------------------------------------------------------ reductions

def irradiance(system_or_prescription, *, rays=None, wavelength=None, z=None, bins, extent=None, field=0.0, seed=0,
               threads=0, positions=None, directions=None, polarizations=None, intensities=None, client=None,
               chunk_size=None):
    """``lumivex.analysis.irradiance`` traced on Dask workers: the same map, bit for bit.

    Each task makes the rays of its range of the stream (ray i from the
    Philox stream keyed by ``seed`` with counter i, exactly as on one
    machine), traces them on every core of its worker (``threads``) and
    bins them into an exact partial map; only that map, the size of the
    grid, comes back, and the client adds the maps as they arrive. The sums
    are integers, so neither the chunk size nor the order of arrival
    changes a bit. A default extent is found on the client from the first
    4096 rays, as on one machine.

    Parameters
    ----------
    As ``lumivex.analysis.irradiance``, and:
    client : distributed.Client, optional
        By default the current client.
    chunk_size : int, optional
        Rays per task; by default ``IRRADIANCE_CHUNK_SIZE`` (2^20).

    Returns
    -------
    lumivex.analysis.Irradiance

    Notes
    -----
    Rays given as ``positions``/``directions`` travel in their tasks (meant
    for modest batches); a beam of ``rays`` rays sends nothing but a few
    numbers per task. A worker that dies costs its tasks, which the
    scheduler runs again elsewhere. A Prescription travels pickled in each
    task, and each worker aims its own rays.
    """
    from distributed import as_completed

    from .analysis import _RADIANS, _IrradianceJob

    job = _IrradianceJob(system_or_prescription, rays, wavelength, z, bins, extent, field, seed, threads,
                         positions, directions, polarizations, intensities)
    if job.lens is None:
        key, text = _description(job.system)
    if client is None:
        client = _current_client()
    size = IRRADIANCE_CHUNK_SIZE if chunk_size is None else _chunk_size(chunk_size)
    job.resolve_extent()
    futures = []
    for first in range(0, job.rays, size):
        count = min(size, job.rays - first)
        if job.arrays:
            sl = slice(first, first + count)
            pol = None if job.polarizations is None else np.asarray(job.polarizations, dtype=float)[sl]
            w = None if job.intensities is None else job.intensities[sl]
            with warnings.catch_warnings():
                warnings.filterwarnings("ignore", message="Large object")
                futures.append(client.submit(_irradiance_rays_chunk, key, text, job.wavelength,
                                             job.positions[sl], job.directions[sl], pol, w, job.z, job.nx,
                                             job.ny, job.extent, job.max_intensity, job.threads, pure=False))
        elif job.lens is not None:
            futures.append(client.submit(_irradiance_lens_chunk, job.lens, job.field, job.wavelength, job.seed,
                                         first, count, job.rays, job.z, job.nx, job.ny, job.extent, job.threads,
                                         pure=False))
        else:
            futures.append(client.submit(_irradiance_chunk, key, text, job.wavelength,
                                         job.field_angle * _RADIANS, job.seed, first, count, job.rays, job.z,
                                         job.nx, job.ny, job.extent, job.threads, pure=False))
    merged = None
    for future in as_completed(futures):
        part = future.result()
        future.release()
        merged = part if merged is None else merged.merge(part)
    return job.result(merged)
