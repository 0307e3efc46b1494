# SPDX-License-Identifier: Apache-2.0
"""What the Python bindings add to a batch trace.

Times system.trace for 10^6 rays through a singlet (spheres of radius ±50
around 5 mm of N-BK7) against what a C++ host pays for the same rays: a
TRayBatch filled from arrays with its bulk add, then traceRays, timed inside
the module without the conversions, checks, default polarizations, signal
checks and result arrays of the bindings. Each is run five times, alternating; the best of each counts.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [rays]
"""

import sys
import time

import numpy as np

import lumivex

rays = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
system = lumivex.System(default_radius=6.0)
system.add(lumivex.SphericalLens(0.0, 1.0, 0.0, 50.0))
system.add(lumivex.SphericalLens(5.0, 1.5168, 0.0, -50.0))

rng = np.random.default_rng(7)
r = 5.4 * np.sqrt(rng.uniform(0, 1, rays))
phi = rng.uniform(0, 2 * np.pi, rays)
positions = np.c_[r * np.cos(phi), r * np.sin(phi), np.full(rays, -1.0)]
directions = np.tile([0.0, 0.0, 1.0], (rays, 1))
polarizations = np.tile([1.0, 0.0, 0.0], (rays, 1))
wavelength = 5.876e-4

library, bindings = [], []
for _ in range(5):
    library.append(system._trace_batch_seconds(positions, directions, polarizations, wavelength))
    start = time.perf_counter()
    result = system.trace(positions, directions, wavelength=wavelength, polarizations=polarizations)
    bindings.append(time.perf_counter() - start)
    assert result.ok.all()
    del result  # the C++ host's batch is gone too before its next run

best_library, best_bindings = min(library), min(bindings)
overhead = best_bindings / best_library - 1.0
print(f"python_bench: {rays} singlet rays")
print(f"  C++ batch and traceRays  {best_library:8.3f} s  ({best_library / rays * 1e9:6.0f} ns/ray)")
print(f"  System.trace from Python {best_bindings:8.3f} s  ({best_bindings / rays * 1e9:6.0f} ns/ray)")
print(f"  overhead of the bindings {100 * overhead:+7.2f} %  (target: at most +10 %)")
