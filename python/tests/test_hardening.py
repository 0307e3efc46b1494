# SPDX-License-Identifier: Apache-2.0
"""Hostile input from scripts: each case once crashed the interpreter, or came
back as a success with a wrong or non-finite answer."""
import math
import os
import pathlib
import threading

import numpy as np
import pytest

import lumivex

DATA = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data"
SYSTEM = "OpticalSystem 6\nSlab 0 1\nLens 5 1.5 1 50 0\n"


def test_tracing_while_another_thread_adds_elements_traces_a_snapshot():
    """The design: a trace works on copies of the elements taken when it
    starts. Elements another thread adds meanwhile are not traced, and the
    traced radii go back, by identity, to the element objects that were
    traced. The result is the trace of the system as it was; nothing crashes.
    (Copying the radii back once walked the system's current elements and
    read past the traced copy.)"""
    s = lumivex.System.from_text(SYSTEM)
    first = list(s)
    n = 200000
    p = np.zeros((n, 3))
    p[:, 0] = np.linspace(-3, 3, n)
    p[:, 2] = -1
    k = np.zeros((n, 3))
    k[:, 2] = 1
    expected = s.trace(p, k, wavelength=5e-4)
    expected_radius = first[1].opt_radius
    for element in first:
        element.opt_radius = 0.0

    results = []
    t = threading.Thread(target=lambda: results.append(s.trace(p, k, wavelength=5e-4, threads=1)))
    t.start()
    added = 0
    while t.is_alive() or added == 0:
        s.add(lumivex.Slab(10.0 + added, 1.0))
        added += 1
    t.join()
    assert len(s) == 2 + added
    np.testing.assert_array_equal(results[0].nodes, expected.nodes)
    assert first[1].opt_radius == expected_radius
    assert all(e.opt_radius == 0.0 for e in list(s)[2:])

    # The same with single beams, traced under the GIL released too.
    s2 = lumivex.System.from_text(SYSTEM)

    def grow():
        for _ in range(300):
            s2.add(lumivex.Slab(20.0, 1.0))

    g = threading.Thread(target=grow)
    g.start()
    traced = 0
    while g.is_alive() or traced == 0:
        beam = s2.trace_beam([1.0, 0, -1], [0, 0, 1], wavelength=5e-4)
        assert len(beam) >= 3
        traced += 1
    g.join()
    assert len(s2) == 302


def test_values_that_are_not_finite_and_negative_indices_are_refused():
    nan, inf = float("nan"), float("inf")
    for make in (lambda: lumivex.Slab(nan, 1.5), lambda: lumivex.Slab(0, complex(1.5, nan)),
                 lambda: lumivex.SphericalLens(0, 1.5, 0, inf),
                 lambda: lumivex.GeneralLens(0, 1.5, 0, 50, nan),
                 lambda: lumivex.GrinRod(0, nan, 0.1)):
        with pytest.raises(lumivex.Error, match="not a (finite )?number"):
            make()
    for make in (lambda: lumivex.Slab(0, -1.5), lambda: lumivex.GrinRod(10, -1.6, 0.1)):
        with pytest.raises(lumivex.Error, match="negative"):
            make()
    with pytest.raises(ValueError, match="default_radius"):
        lumivex.System(nan)
    s = lumivex.System(6.0, [lumivex.Slab(0, 1.0), lumivex.Slab(5, complex(1.5, 0.01))])
    with pytest.raises(ValueError, match="default_radius"):
        s.default_radius = inf
    # Set after construction: refused before any ray meets it, and by write,
    # whose text would not read back.
    s[1].z = nan
    with pytest.raises(ValueError, match=r"element 1 \(Slab\): z is nan"):
        s.trace([[0, 0, -1]], [[0, 0, 1]], wavelength=5e-4)
    with pytest.raises(ValueError, match="element 1"):
        s.to_text()
    s[1].z = 5.0
    s[1].ref_index = -1.5
    with pytest.raises(ValueError, match="element 1 .*negative"):
        s.trace_beam([0, 0, -1], [0, 0, 1], wavelength=5e-4)
    # The description reader names the place and the word.
    with pytest.raises(ValueError, match=r'^description:3:8: reading stopped at word "-1.5"'):
        lumivex.System.from_text("OpticalSystem 6\nSlab 0 1\nSlab 5 -1.5\n")


def test_polarizations_and_intensities_out_of_range():
    s = lumivex.System.from_text(SYSTEM)
    p, k = [[1.0, 0, -1]], [[0, 0, 1.0]]
    unit = s.trace(p, k, wavelength=5e-4, polarizations=[[1.0, 0, 0]])
    for e in ([[1e200, 0, 0]], [[1e300, 0, 0]], [[1e-200, 0, 0]], [[3e-320, 0, 0]]):
        r = s.trace(p, k, wavelength=5e-4, polarizations=e)
        assert r.ok[0]
        np.testing.assert_array_equal(r.nodes, unit.nodes)
    for e in ([[0.0, 0, 0]], [[0.0, -0.0, 0]]):
        with pytest.raises(ValueError, match="polarizations has a zero vector"):
            s.trace(p, k, wavelength=5e-4, polarizations=e)
    with pytest.raises(ValueError, match="polarization has a zero vector"):
        s.trace_beam(p[0], k[0], wavelength=5e-4, polarization=[0, 0, 0])
    with pytest.raises(ValueError, match="intensities must not be negative"):
        s.trace(p, k, wavelength=5e-4, intensities=[-1.0])


def test_arguments_are_named_and_directions_must_be_unit_vectors(tmp_path):
    s = lumivex.System.from_text(SYSTEM)
    with pytest.raises(TypeError, match="wavelength must be a positive number, not str"):
        s.trace([[0, 0, -1]], [[0, 0, 1]], wavelength="abc")
    with pytest.raises(TypeError, match="wavelength"):
        s.trace_beam([0, 0, -1], [0, 0, 1], wavelength=None)
    with pytest.raises(ValueError, match="directions must be unit vectors; row 1 has length 2.0"):
        s.trace([[0, 0, -1]] * 2, [[0, 0, 1], [0, 0, 2]], wavelength=5e-4)
    r = s.trace([[0, 0, -1]], [[0.6, 0, 0.8]], wavelength=np.float32(5e-4))
    assert r.ok[0]


def test_files_paths_and_writes(tmp_path):
    zmx = DATA / "singlet.zmx"
    for path in (str(zmx), zmx, os.fsencode(str(zmx))):
        assert len(lumivex.System.from_zmx(path)) == 3
    with pytest.raises(IsADirectoryError):
        lumivex.System.from_zmx(DATA)
    with pytest.raises(IsADirectoryError):
        lumivex.System.read(os.fsencode(str(DATA)))
    with pytest.raises(TypeError):
        lumivex.System.read(3.5)
    with pytest.raises(ValueError, match="more than 64 MiB"):
        lumivex.System.read("/dev/zero")
    # UTF-16 without its byte-order mark names the encoding, not a wavelength.
    utf16 = tmp_path / "utf16.zmx"
    utf16.write_bytes(zmx.read_text().encode("utf-16-le"))
    with pytest.raises(ValueError, match="the encoding is not recognised"):
        lumivex.System.from_zmx(utf16)
    with pytest.raises(TypeError, match="wavelength"):
        lumivex.System.from_zmx(zmx, wavelength="abc")
    # A full disk shows only when the last buffer is written.
    if os.path.exists("/dev/full"):
        with pytest.raises(OSError):
            lumivex.System(6, [lumivex.Slab(0, 1)]).write("/dev/full")
    # A long bad word is cut in the message.
    with pytest.raises(ValueError) as caught:
        lumivex.System.from_text("OpticalSystem 6\nSlab " + "1" * 1000000 + "x 1\n")
    assert len(str(caught.value)) < 300


def test_field_sizes_that_overflow_and_spacings_that_are_not_finite():
    with pytest.raises(ValueError, match="nx \\* ny"):
        lumivex.field_to_fan(np.ones(8), 0.1, 0.1, 2**32 + 1, 2**32 - 1, 5e-4)
    with pytest.raises(ValueError, match="columns \\* rows"):
        lumivex.fan_to_field([], 0.1, 0.1, 1.0, 0.0, 2**32 + 1, 2**32 - 1)
    with pytest.raises(lumivex.Error, match="sample spacing must be finite"):
        lumivex.field_to_fan(np.ones(8), math.inf, 0.1, 4, 1, 5e-4)
