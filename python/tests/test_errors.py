# SPDX-License-Identifier: Apache-2.0
import signal
import time

import numpy as np
import pytest

import lumivex


@pytest.mark.parametrize("kwargs, word", [
    (dict(positions=None), "positions"),
    (dict(positions=[[0, 0]]), "positions"),
    (dict(positions="abc"), "positions"),
    (dict(directions=[[0, 0, 1]] * 3), "directions"),
    (dict(directions=[[0, 0, 0], [0, 0, 1]]), "directions"),
    (dict(directions=[[0, 0, np.nan], [0, 0, 1]]), "directions"),
    (dict(polarizations=[[1, 0, 0]]), "polarizations"),
    (dict(polarizations=[[1, 0, np.inf]] * 2), "polarizations"),
    (dict(intensities=[1.0]), "intensities"),
    (dict(phases=[[0.0, 0.0]]), "phases"),
    (dict(wavelength=0.0), "wavelength"),
    (dict(wavelength=-1.0), "wavelength"),
    (dict(wavelength=np.nan), "wavelength"),
    (dict(threads=-1), "threads"),
])
def test_bad_trace_arguments_name_the_argument(singlet, kwargs, word):
    args = dict(positions=[[0, 0, -1], [1, 0, -1]], directions=[[0, 0, 1]] * 2, wavelength=5e-4)
    args.update(kwargs)
    with pytest.raises(ValueError, match=word):
        singlet.trace(**args)


def test_bad_single_rays_and_elements(singlet):
    with pytest.raises(ValueError, match="position"):
        singlet.trace_beam([0, 0], [0, 0, 1], wavelength=5e-4)
    with pytest.raises(ValueError, match="direction"):
        singlet.trace_beam([0, 0, 0], None, wavelength=5e-4)
    with pytest.raises(TypeError):
        singlet.trace_beam([0, 0, 0], [0, 0, 1])  # the wavelength is keyword-only and needed
    with pytest.raises(lumivex.Error, match="nx"):
        lumivex.MatrixLens(0, 1.5, 50, 0, 0, -1, 5, 0.1, 0.1)
    for nx in (10**6, 10**12):
        with pytest.raises((ValueError, TypeError)):
            lumivex.MatrixLens(0, 1.5, 50, 0, 0, nx, nx, 0.1, 0.1)
    with pytest.raises(ValueError, match="heights"):
        lumivex.MatrixSurface(0, 1.5, 0.1, 0.1, [1.0, 2.0])
    with pytest.raises(lumivex.Error):
        lumivex.MatrixSurface(0, 1.5, -0.1, 0.1, [[1.0, 2.0]])
    with pytest.raises(lumivex.Error):
        lumivex.PolynomialXYSurface(0, 1.5, 0, 2, 11)
    with pytest.raises(TypeError):
        lumivex.Slab(None, 1.5)


def test_bad_fields():
    with pytest.raises(lumivex.Error, match="2 columns"):
        lumivex.field_to_fan([1.0], 0.1, 0.1, 3, 1, 5e-4)
    with pytest.raises(ValueError, match="field"):
        lumivex.field_to_fan(np.ones((2, 2, 2)), 0.1, 0.1, 3, 1, 5e-4)
    with pytest.raises(ValueError, match="nx"):
        lumivex.field_to_fan(np.ones(8), 0.1, 0.1, 10**5, 10**5, 5e-4)
    with pytest.raises(ValueError, match="columns"):
        lumivex.fan_to_field([], 0.1, 0.1, 1.0, 0.0, -5)
    with pytest.raises(ValueError, match="columns"):
        lumivex.fan_to_field([], 0.1, 0.1, 1.0, 0.0, 10**9, 10**9)
    with pytest.raises(lumivex.Error, match="2 beams"):
        lumivex.fan_to_field([], 0.1, 0.1, 1.0, 0.0, 16)
    with pytest.raises(TypeError):
        lumivex.fan_to_field([1, 2], 0.1, 0.1, 1.0, 0.0, 16)


def test_ctrl_c_stops_a_long_trace():
    rod = lumivex.System(2.0, [lumivex.Slab(0.0, 1.0), lumivex.GrinRod(100.0, 1.6, 0.2)])
    # Untouched, this trace would run for minutes.
    n = 2000000
    p = np.c_[np.linspace(-1, 1, n), np.zeros(n), np.full(n, -1.0)]

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.2)
        start = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            rod.trace(p, np.tile([0.0, 0.0, 1.0], (n, 1)), wavelength=5e-4)
        assert time.monotonic() - start < 20.0
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
