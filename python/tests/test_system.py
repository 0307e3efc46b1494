# SPDX-License-Identifier: Apache-2.0
import pathlib

import numpy as np
import pytest

import lumivex

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def test_elements_stay_the_objects_added(singlet):
    first = singlet[0]
    assert len(singlet) == 2 and singlet[-2] is first and list(singlet) == [first, singlet[1]]
    assert first.radius == 6.0
    with pytest.raises(IndexError):
        singlet[2]
    with pytest.raises(IndexError):
        singlet[-3]
    with pytest.raises(TypeError):
        singlet.add(3.0)
    # Changing an element changes what the system traces.
    before = singlet.trace_beam([2, 0, -1], [0, 0, 1], wavelength=5e-4).nodes[-1]["direction"]
    singlet[1].curvature_radius = -40.0
    after = singlet.trace_beam([2, 0, -1], [0, 0, 1], wavelength=5e-4).nodes[-1]["direction"]
    assert after[0] < before[0] < 0
    del first
    import gc
    gc.collect()
    assert singlet[0].z == 0.0


def test_elements_outlive_their_system():
    s = lumivex.System(4.0, [lumivex.Slab(0, 1), lumivex.GrinRod(10, 1.6, 0.2)])
    rod = s[1]
    del s
    import gc
    gc.collect()
    assert rod.n0 == 1.6 and rod.radius == 4.0


def test_text_round_trip_keeps_every_double():
    s = lumivex.System(default_radius=0.1 + 0.2)
    s.add(lumivex.Slab(1 / 3, complex(1.0 / 7, 0.0)))
    s.add(lumivex.Lens(np.pi, np.e, 0.1, 1 / 9, 2 / 3))
    s.add(lumivex.GrinRod(np.sqrt(2), 1.6 + 1e-15, 0.2 / 3, -1e-300, 5e-17))
    back = lumivex.System.from_text(s.to_text())
    assert back.default_radius == s.default_radius
    assert [repr(e) for e in back] == [repr(e) for e in s]
    assert back.to_text() == s.to_text()
    assert back[2].h4 == -1e-300 and back[1].second_index == 1 / 9


def test_reading_files(tmp_path):
    s = lumivex.System.read(EXAMPLES / "singlet.txt")
    assert [e.kind for e in s] == ["Slab", "Lens"] and s.default_radius == 6.0
    path = tmp_path / "copy.txt"
    s.write(path)
    assert lumivex.System.read(str(path)).to_text() == s.to_text()


def test_reading_errors(tmp_path):
    with pytest.raises(FileNotFoundError):
        lumivex.System.read(tmp_path / "missing.txt")
    with pytest.raises(ValueError, match=r'^description:3:6: reading stopped at word "x5"') as e:
        lumivex.System.from_text("OpticalSystem 6\nSlab 0 1\nLens x5 1.5 1 50 0\n")
    # The place is also there as attributes, not only in the text.
    where = e.value
    assert (where.source, where.line, where.column, where.surface) == ("description", 3, 6, None)
    with pytest.raises(ValueError, match="SphericalLens"):
        lumivex.System(1.0, [lumivex.SphericalLens(0, 1, 0, 5)]).to_text()


def test_zmx_singlet_focuses_where_thick_lens_optics_puts_it():
    path = EXAMPLES.parent / "tests" / "data" / "singlet.zmx"
    s, report = lumivex.read_zmx(path)
    assert report.unit == "MM" and report.wavelength == 0.5875618
    assert report.primary_wavelength == 2 and report.stop == 1 and report.enpd == 10.0
    assert report.fields == [(0.0, 0.0), (0.0, 5.0), (0.0, 10.0)]
    glass = report.glasses[0]
    assert glass["name"] == "N-BK7" and glass["source"] == "catalogue SCHOTT"
    assert report.surfaces[1]["glass"] == "N-BK7" and report.surfaces[0]["z"] is None
    assert [e.kind for e in s] == ["GeneralLens", "GeneralLens", "Slab"]
    assert lumivex.System.from_zmx(path).to_text() == s.to_text()

    # Biconvex R = ±50, 5 thick: the back focal distance of a thick lens.
    n = glass["index"]
    assert abs(n - 1.5168) < 1e-5  # N-BK7's nd
    r1, r2, t = 50.0, -50.0, 5.0
    power = (n - 1) * (1 / r1 - 1 / r2 + (n - 1) * t / (n * r1 * r2))
    bfd = (1 - (n - 1) * t / (n * r1)) / power
    b = s.trace_beam([1e-3, 0, -1], [0, 0, 1], wavelength=report.wavelength_in_lens_unit)
    end = b.nodes[-1]
    crossing = end["position"][2] - end["position"][0] * end["direction"][2] / end["direction"][0]
    assert abs(crossing - (t + bfd)) < 1e-6 * bfd

    # Another wavelength, in micrometres: N-BK7 at the F line.
    _, blue = lumivex.read_zmx(path, wavelength=0.4861327)
    assert abs(blue.glasses[0]["index"] - 1.522376) < 5e-7
    assert blue.wavelength_in_lens_unit == pytest.approx(4.861327e-4, rel=1e-15)


def test_zmx_errors(tmp_path):
    path = EXAMPLES.parent / "tests" / "data" / "singlet.zmx"
    with pytest.raises(FileNotFoundError):
        lumivex.System.from_zmx(tmp_path / "missing.zmx")
    with pytest.raises(ValueError, match="wavelength"):
        lumivex.read_zmx(path, wavelength=-1.0)
    tilted = tmp_path / "tilted.zmx"
    tilted.write_text(path.read_text().replace("SURF 2\n  TYPE STANDARD", "SURF 2\n  TYPE COORDBRK"))
    with pytest.raises(ValueError, match="surface 2.*COORDBRK"):
        lumivex.System.from_zmx(tilted)
    flat = tmp_path / "flat.zmx"
    flat.write_text(path.read_text().replace("CURV 2.0E-2", "CURV inf"))
    for read in (lumivex.read_zmx, lumivex.Prescription.read):
        with pytest.raises(ValueError, match=r"flat\.zmx:28: surface 1: CURV needs a finite number") as e:
            read(flat)
        assert (e.value.source, e.value.line, e.value.column, e.value.surface) == (str(flat), 28, None, 1)
