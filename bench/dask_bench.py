# SPDX-License-Identifier: Apache-2.0
"""What tracing on Dask workers costs against tracing on this machine.

Traces 10^6 and 10^7 rays through the plano-convex singlet of
examples/singlet.txt, first with System.trace on every core here, then with
lumivex.distributed.trace through a LocalCluster of two single-thread worker
processes on 127.0.0.1 (each task still traces on every core of its worker).
Both take numpy arrays and give numpy arrays, so the cluster's figure
includes shipping every ray to a worker and its result back. Prints rays per
second for each and what distribution loses; the target is under 15 % at
10^7 rays. Each figure is the best of two runs.

Moving rays costs little CPU; what costs is glibc handing every large buffer
(each chunk received, each batch traced) back to the kernel when it is freed
and the kernel zeroing fresh pages for the next. The bench therefore runs
itself, the client, and the workers with glibc told to keep large blocks for
reuse (MALLOC_MMAP_THRESHOLD_, MALLOC_TRIM_THRESHOLD_; the workers through
distributed.nanny.pre-spawn-environ, as the nanny sets its own trim
threshold), as a deployment should; --glibc-defaults measures without.

Then the irradiance map of the same singlet (lumivex.analysis.irradiance,
and lumivex.distributed.irradiance on the two workers), whose rays are
made, traced and binned where they are traced: against the time tracing
alone takes (System.trace of ready rays on this machine's cores, per ray),
the cluster against local threads, and the client's peak memory while the
cluster works (the resident set, sampled). The size is 10^7 rays, or
LUMIVEX_IRRADIANCE_RAYS (1e8 for the targets' size).

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/dask_bench.py [--glibc-defaults] [rays ...]
       ... bench/dask_bench.py --chunks 1000000   (throughput against chunk size)
       ... bench/dask_bench.py --irradiance-only
"""

import logging
import os
import pathlib
import sys
import threading
import time

import numpy as np

import lumivex
import lumivex.analysis as la
import lumivex.distributed as ldist

ROOT = pathlib.Path(__file__).resolve().parents[1]
WAVELENGTH = 5.876e-4
# Large blocks come from the heap and stay there when freed (1 GiB, 2 GiB).
MALLOC = {"MALLOC_MMAP_THRESHOLD_": "1073741824", "MALLOC_TRIM_THRESHOLD_": "2147483648"}


def rays(n, seed=7):
    rng = np.random.default_rng(seed)
    r = 5.4 * np.sqrt(rng.uniform(0, 1, n))
    phi = rng.uniform(0, 2 * np.pi, n)
    p = np.empty((n, 3))
    p[:, 0] = r * np.cos(phi)
    p[:, 1] = r * np.sin(phi)
    p[:, 2] = -1.0
    del r, phi
    k = np.zeros((n, 3))
    k[:, 2] = 1.0
    return p, k


def best(run, repeat=2):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - start)
        del result
    return min(times)


def main(argv):
    import dask
    from distributed import Client, LocalCluster
    tuned = "--glibc-defaults" not in argv
    argv = [a for a in argv if a != "--glibc-defaults"]
    if tuned:
        if any(os.environ.get(k) != v for k, v in MALLOC.items()):
            # glibc reads these once, when the process starts.
            os.execve(sys.executable, [sys.executable, *sys.argv], dict(os.environ, **MALLOC))
        dask.config.set({"distributed.nanny.pre-spawn-environ": MALLOC})
    for name in ("distributed", "distributed.nanny", "distributed.scheduler", "distributed.worker"):
        logging.getLogger(name).setLevel(logging.ERROR)
    irradiance_only = "--irradiance-only" in argv
    argv = [a for a in argv if a != "--irradiance-only"]
    sweep = argv[:1] == ["--chunks"]
    counts = [int(float(a)) for a in (argv[1:] if sweep else argv)] or [1_000_000, 10_000_000]
    system = lumivex.System.read(str(ROOT / "examples" / "singlet.txt"))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        client.wait_for_workers(2)
        # Each worker reads the system once; that, and importing, is not what is measured.
        ldist.trace(system, *rays(1000), wavelength=WAVELENGTH, client=client)
        # The irradiance first, while the client has held no large arrays.
        irradiance(system, client, int(float(os.environ.get("LUMIVEX_IRRADIANCE_RAYS", "1e7"))))
        if irradiance_only:
            return
        if sweep:
            p, k = rays(counts[0])
            print(f"dask_bench: {counts[0]} singlet rays, two workers, against chunk size")
            for size in (1 << 12, 1 << 14, 1 << 15, 1 << 16, 1 << 17, 1 << 18, 1 << 19, 1 << 20):
                t = best(lambda: ldist.trace(system, p, k, wavelength=WAVELENGTH, client=client, chunk_size=size))
                print(f"  chunk {size:8d}  {counts[0] / t / 1e6:6.2f} M rays/s")
            return
        print(f"dask_bench: singlet rays, System.trace on {lumivex_cores()} cores here against "
              f"two single-thread workers (chunks of {ldist.DEFAULT_CHUNK_SIZE}; glibc "
              f"{'keeping large blocks' if tuned else 'defaults'})")
        for n in counts:
            p, k = rays(n)
            if n <= 1_000_000:
                local = system.trace(p, k, wavelength=WAVELENGTH)
                remote = ldist.trace(system, p, k, wavelength=WAVELENGTH, client=client)
                assert all(np.array_equal(getattr(local, a), getattr(remote, a))
                           for a in ("position", "direction", "polarization", "intensity", "phase", "ok"))
                del local, remote
            here = best(lambda: system.trace(p, k, wavelength=WAVELENGTH))
            there = best(lambda: ldist.trace(system, p, k, wavelength=WAVELENGTH, client=client))
            print(f"  {n:>9d} rays  local {n / here / 1e6:6.2f} M rays/s ({here:6.2f} s)   "
                  f"cluster {n / there / 1e6:6.2f} M rays/s ({there:6.2f} s)   "
                  f"lost to distribution {100 * (1 - here / there):+6.1f} %"
                  + ("  (target: under 15 %)" if n >= 10_000_000 else ""))
            del p, k


def resident_mb():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return float("nan")


class PeakMemory:
    """The client's largest resident set while a block runs, sampled every 5 ms."""

    def __enter__(self):
        self.before = self.peak = resident_mb()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._sample, daemon=True)
        self._thread.start()
        return self

    def _sample(self):
        while not self._stop.wait(0.005):
            self.peak = max(self.peak, resident_mb())

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()
        self.peak = max(self.peak, resident_mb())


def irradiance(system, client, n):
    # Just before the focus at z = 55, on a grid around the spot.
    args = dict(rays=n, wavelength=WAVELENGTH, z=54.9, bins=256, seed=1)
    small = dict(args, rays=200_000)
    ldist.irradiance(system, client=client, **small)  # the workers read the system
    with PeakMemory() as memory:
        start = time.perf_counter()
        remote = ldist.irradiance(system, client=client, **args)
        there = time.perf_counter() - start
    here = best(lambda: la.irradiance(system, threads=2, **args), repeat=1)
    local = la.irradiance(system, threads=2, **small)
    assert np.array_equal(local.image, ldist.irradiance(system, client=client, **small).image)
    del local
    # Tracing alone: ready rays filling the same disk, on the same two
    # threads; and with making them first, as a script without the stream would.
    m = 1_000_000

    def made():
        return la.collimated_rays(system, la.random_pupil(6.0, m, seed=1))

    p, k, e = made()
    trace = best(lambda: system.trace(p, k, polarizations=e, wavelength=WAVELENGTH, threads=2)) / m * n
    del p, k, e
    make_and_trace = best(lambda: system.trace(*made()[:2], wavelength=WAVELENGTH, threads=2)) / m * n
    print(f"dask_bench: irradiance map of {n:.3g} singlet rays, 256 x 256 bins "
          f"(power on the grid {remote.power:.4f}, {remote.failed} failed)")
    print(f"  local, 2 threads        {here:7.2f} s  {n / here / 1e6:6.2f} M rays/s   "
          f"{here / trace:5.2f} x tracing alone ({trace:.2f} s at System.trace's rate)  (target: <= 1.2 x); "
          f"{here / make_and_trace:4.2f} x making the rays and tracing them ({make_and_trace:.2f} s)")
    print(f"  two-worker cluster      {there:7.2f} s  {n / there / 1e6:6.2f} M rays/s   "
          f"{100 * (there / here - 1):+6.1f} % against local  (target: within 15 %)")
    print(f"  client resident set     {memory.peak:7.1f} MB at its peak ({memory.before:.1f} MB before, "
          f"+{memory.peak - memory.before:.1f} MB)  (target: under 200 MB)")


def lumivex_cores():
    import os
    return len(os.sched_getaffinity(0))


if __name__ == "__main__":
    main(sys.argv[1:])
