# SPDX-License-Identifier: Apache-2.0
"""Tracing on Dask workers against System.trace on this machine.

One cluster for the module, started the way a deployment starts one: a
scheduler and two workers as separate processes from Dask's command-line
programs, listening on 127.0.0.1 only, found through a scheduler file.
"""

import logging
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import lumivex

distributed = pytest.importorskip("distributed")
da = pytest.importorskip("dask.array")
ldist = lumivex.distributed
# Debian's tornado warns about its own event-loop calls inside distributed.
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

ROOT = pathlib.Path(__file__).resolve().parents[2]
WAVELENGTH = 5.876e-4


def rays(n, seed=3):
    rng = np.random.default_rng(seed)
    r = 5.4 * np.sqrt(rng.uniform(0, 1, n))
    phi = rng.uniform(0, 2 * np.pi, n)
    p = np.c_[r * np.cos(phi), r * np.sin(phi), np.full(n, -1.0)]
    k = np.c_[rng.uniform(-0.05, 0.05, (n, 2)), np.ones(n)]
    return p, k / np.linalg.norm(k, axis=1)[:, None]


@pytest.fixture(scope="module")
def systems():
    singlet = lumivex.System.read(str(ROOT / "examples" / "singlet.txt"))
    rod = lumivex.System(2.0, [lumivex.Slab(0.0, 1.0), lumivex.GrinRod(7.854, 1.6, 0.2)])
    return [singlet, rod]


def same(local, remote):
    assert len(remote) == len(local)
    for name in ("position", "direction", "polarization", "intensity", "phase", "ok", "failed_element"):
        assert np.array_equal(getattr(local, name), getattr(remote, name)), name
    for i in np.flatnonzero(~local.ok):
        assert remote.message(i) == local.message(i) != ""
    assert remote.message(int(np.flatnonzero(local.ok)[0])) == ""


def test_without_a_client_says_what_to_do(systems):
    if distributed.client._get_global_client() is not None:
        pytest.skip("a client of another test is current")
    with pytest.raises(ValueError, match="no Dask client.*Client"):
        ldist.trace(systems[0], *rays(4), wavelength=WAVELENGTH)


def test_a_system_without_description_records_is_refused_before_sending():
    # Refused before a client is even looked for, so no cluster is needed.
    spheres = lumivex.System(6.0, [lumivex.SphericalLens(0.0, 1.0, 0.0, 50.0)])
    with pytest.raises(ValueError, match="cannot be traced on Dask workers.*SphericalLens"):
        ldist.trace(spheres, *rays(4), wavelength=WAVELENGTH, client=object())


@pytest.fixture(scope="module")
def client(tmp_path_factory):
    """A scheduler and two single-thread workers, each its own process."""
    for name in ("distributed", "distributed.nanny", "distributed.scheduler", "distributed.worker"):
        logging.getLogger(name).setLevel(logging.CRITICAL)
    where = tmp_path_factory.mktemp("dask")
    scheduler_file = where / "scheduler.json"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(pathlib.Path(lumivex.__file__).parents[1])] + os.environ.get("PYTHONPATH", "").split(os.pathsep)))
    commands = [[sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0",
                 "--no-dashboard", "--scheduler-file", str(scheduler_file)]]
    commands += [[sys.executable, "-m", "distributed.cli.dask_worker", "--scheduler-file", str(scheduler_file),
                  "--host", "127.0.0.1", "--nthreads", "1", "--no-dashboard", "--death-timeout", "120",
                  "--local-directory", str(where / f"worker{i}")] for i in range(2)]
    processes = []
    try:
        for i, command in enumerate(commands):
            log = open(where / f"process{i}.log", "w")
            processes.append(subprocess.Popen(command, env=env, stdout=log, stderr=subprocess.STDOUT,
                                              start_new_session=True))
            if i == 0:
                deadline = time.monotonic() + 120
                while not scheduler_file.exists() and time.monotonic() < deadline:
                    time.sleep(0.1)
        c = distributed.Client(scheduler_file=str(scheduler_file), timeout=120)
        c.wait_for_workers(2, timeout=120)
        assert all(a.startswith("tcp://127.0.0.1:") for a in [c.scheduler.address, *c.nthreads()])
        yield c
        c.close()
    finally:
        for process in reversed(processes):
            process.send_signal(signal.SIGTERM)
        for process in reversed(processes):
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()


def test_equals_the_local_trace_bit_for_bit(client, systems):
    p, k = rays(3001)
    p[[5, 2999]] = [[70.0, 0.0, -1.0], [0.0, -80.0, -1.0]]  # these miss the rod's face
    w = np.linspace(0.5, 1.0, len(p))
    for system in systems:
        local = system.trace(p, k, wavelength=WAVELENGTH)
        # The current client, chunks that do not divide the rays, default polarizations.
        same(local, ldist.trace(system, p, k, wavelength=WAVELENGTH, chunk_size=250))
        e = local.polarization[::-1].copy()
        e[~local.ok[::-1]] = [0.0, 1.0, 0.0]  # a failed ray's zero polarization has no direction
        weighted = system.trace(p, k, wavelength=WAVELENGTH, polarizations=e, intensities=w, phases=w)
        same(weighted, ldist.trace(system, p, k, wavelength=WAVELENGTH, polarizations=e, intensities=w,
                                   phases=w, client=client))


def test_irradiance_on_the_workers_equals_the_local_map_bit_for_bit(client, systems):
    singlet, rod = systems
    for system, z in ((singlet, 49.0), (rod, 9.0)):
        kwargs = dict(rays=20001, wavelength=WAVELENGTH, z=z, bins=(33, 17), seed=5)
        local = lumivex.analysis.irradiance(system, **kwargs)
        for chunk_size in (4096, 7000):
            remote = ldist.irradiance(system, client=client, chunk_size=chunk_size, **kwargs)
            assert np.array_equal(remote.image, local.image)
            assert remote.extent == local.extent
            assert (remote.rays, remote.failed, remote.on_grid) == (local.rays, local.failed, local.on_grid)
            assert (remote.power, remote.rms_radius) == (local.power, local.rms_radius)
    p, k = rays(3001)
    w = np.linspace(0.5, 1.0, len(p))
    local = lumivex.analysis.irradiance(singlet, positions=p, directions=k, intensities=w, wavelength=WAVELENGTH,
                                        z=50.0, bins=16)
    remote = ldist.irradiance(singlet, positions=p, directions=k, intensities=w, wavelength=WAVELENGTH, z=50.0,
                              bins=16, chunk_size=1000)
    assert np.array_equal(remote.image, local.image) and remote.power == local.power
    # A prescription travels pickled; each worker aims its own rays.
    lens = lumivex.Prescription.read(ROOT / "examples" / "triplet.zmx")
    local = lumivex.analysis.irradiance(lens, rays=5001, bins=12, field=2, seed=9)
    remote = ldist.irradiance(lens, rays=5001, bins=12, field=2, seed=9, client=client, chunk_size=2000)
    assert np.array_equal(remote.image, local.image) and remote.extent == local.extent
    assert (remote.power, remote.rms_radius, remote.failed) == (local.power, local.rms_radius, local.failed)


def test_dask_arrays_in_and_out(client, systems):
    rod = systems[1]
    p, k = rays(2000)
    p[1234] = [90.0, 0.0, -1.0]  # misses the rod's face
    local = rod.trace(p, k, wavelength=WAVELENGTH)
    pd, kd = da.from_array(p, chunks=(300, 3)), da.from_array(k, chunks=(700, 3))
    same(local, ldist.trace(rod, pd, kd, wavelength=WAVELENGTH))
    lazy = ldist.trace_to_dask(rod, pd, kd, wavelength=WAVELENGTH, chunk_size=512)
    assert isinstance(lazy.position, da.Array) and lazy.position.chunks[0] == (512, 512, 512, 464)
    assert np.array_equal(lazy.phase.compute(), local.phase)
    assert lazy.message(1234) == local.message(1234) != "" and lazy.message(0) == ""
    same(local, lazy.persist().compute())


def test_rays_refused_in_a_chunk_name_the_chunk(client, systems):
    p, k = rays(100)
    k[60] = 0.0
    with pytest.raises(ValueError, match=r"zero vector \(row 10\) \(in the chunk of rays from 50\)"):
        ldist.trace(systems[0], p, k, wavelength=WAVELENGTH, chunk_size=50)
    with pytest.raises(ValueError, match="directions has 99 rows, positions has 100"):
        ldist.trace(systems[0], p, k[1:], wavelength=WAVELENGTH)


def test_a_killed_worker_costs_only_its_chunks(client, systems):
    singlet = systems[0]
    p, k = rays(400_000, seed=9)
    local = singlet.trace(p, k, wavelength=WAVELENGTH)
    pids = client.run(os.getpid)
    victim, pid = sorted(pids.items())[0]
    outcome = {}

    def run():
        outcome["result"] = ldist.trace(singlet, p, k, wavelength=WAVELENGTH, chunk_size=4000, client=client)

    tracing = threading.Thread(target=run)
    tracing.start()
    deadline = time.monotonic() + 60
    while not client.processing().get(victim) and time.monotonic() < deadline:
        time.sleep(0.01)
    assert tracing.is_alive(), "the trace ended before a worker could be killed"
    os.kill(pid, signal.SIGKILL)
    tracing.join(timeout=300)
    assert not tracing.is_alive()
    same(local, outcome["result"])
    assert pid not in client.run(os.getpid).values()
