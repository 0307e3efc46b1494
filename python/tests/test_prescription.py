# SPDX-License-Identifier: Apache-2.0
import pickle

import numpy as np
import pytest

import lumivex
from conftest import ROOT

TRIPLET = ROOT / "examples" / "triplet.zmx"


def test_a_lens_file_read_as_a_prescription_traces_at_each_wavelength():
    p = lumivex.Prescription.read(TRIPLET)
    assert p.stop == 2 and len(p) == 7
    assert [f[0] for f in p.fields] == [0.0, 10.0, 14.0]
    assert [w[0] for w in p.wavelengths] == [0.4861327, 0.5875618, 0.6562725]
    assert p.primary_wavelength == 0.5875618
    system = p.system_at()
    assert isinstance(system, lumivex.System) and len(system) == 7
    # The glasses follow the wavelength: N-SK16 is denser in blue.
    assert p.system_at(0.4861327)[1].ref_index.real > system[1].ref_index.real
    first = p.first_order()
    assert first["efl"] / first["entrance_pupil_diameter"] == pytest.approx(first["f_number"])

    # Real-aimed rays: the chief ray through the stop's centre, the rim ray on
    # its rim, traced at the wavelength in the lens unit.
    positions, directions = p.rays(2, [[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]])
    assert positions.shape == directions.shape == (3, 3)
    result = system.trace(positions, directions, wavelength=p.wavelength_in_lens_unit(), keep_nodes=True)
    assert result.ok.all()
    stop = np.array([result.beam(i).nodes["position"][p.stop + 1] for i in range(3)])
    s = first["stop_semi_diameter"]
    assert np.hypot(*stop[0, :2]) <= 1e-9 * s
    assert stop[1, :2] == pytest.approx([s, 0.0], abs=1e-9 * s)
    assert stop[2, :2] == pytest.approx([0.0, s], abs=1e-9 * s)

    # The prescription's clips go straight into a trace: NaN where nothing
    # clips, so an on-axis beam filling the pupil passes whole, and a ray
    # aimed past the stop's rim is vignetted there.
    clip = p.clip_radii()
    assert np.isnan(clip[0]) and clip[p.stop] == pytest.approx(s, rel=1e-8)
    pupil = [[0.0, 0.0], [1.0, 0.0], [0.0, -1.0], [0.7, 0.7], [-0.5, 0.2]]
    positions, directions = p.rays(0, pupil)
    beam = system.trace(positions, directions, wavelength=p.wavelength_in_lens_unit(), clip_radii=clip)
    assert beam.ok.all() and not beam.vignetted.any()
    positions, directions = p.rays(0, [[1.05, 0.0]])
    outside = system.trace(positions, directions, wavelength=p.wavelength_in_lens_unit(), clip_radii=clip)
    assert outside.vignetted.all()

    positions, _, ok, messages = p.aim(0, [[0.0, 0.0], [50.0, 0.0]])
    assert ok.tolist() == [True, False] and np.isnan(positions[1]).all() and "pupil" in messages[1]


def test_json_file_pickle_and_repr(tmp_path):
    p = lumivex.Prescription.read(TRIPLET)
    p.add_standard(70.0, -30.0, lumivex.Material.model(1.62, 60.0), clear_semi_diameter=5.0)
    p.add_standard(72.0, 0.0)
    p.fields = [(0.0, 0.0, 1.0), (1 / 3, 0.1, 0.25)]
    path = tmp_path / "triplet.json"
    p.write(path)
    q = lumivex.Prescription.read(path)
    assert q.to_json() == p.to_json()
    assert q.fields[1][0] == 1 / 3
    r = pickle.loads(pickle.dumps(p))
    assert r.to_json() == p.to_json() and r.first_order() == p.first_order()
    text = repr(p)
    assert "STO" in text and "N-SK16" in text and "model 1.62/60" in text


def test_bad_values_are_refused_in_words(tmp_path):
    p = lumivex.Prescription.read(TRIPLET)
    with pytest.raises(FileNotFoundError):
        lumivex.Prescription.read(tmp_path / "missing.json")
    with pytest.raises(ValueError, match="wavelength"):
        p.system_at(-1.0)
    with pytest.raises(ValueError, match="field"):
        p.rays(3, [[0.0, 0.0]])
    with pytest.raises(ValueError, match="stop"):
        p.stop = 9
    p.set_aperture("entrance pupil diameter", 10.0)
    p.wavelengths = [0.1]
    with pytest.raises(lumivex.Error, match="N-SK16"):
        p.system_at()
    bad = tmp_path / "bad.json"
    bad.write_text('{"format": "lumivex prescription"}')
    with pytest.raises(ValueError, match="object"):
        lumivex.Prescription.read(bad)


def test_zmx_import_lists_what_it_skips_and_refuses_in_one_report():
    p, skipped, notes = lumivex.Prescription.import_zmx(ROOT / "tests" / "data" / "bookkeeping.zmx")
    keywords = {k for _, _, k, _ in skipped}
    assert {"COAT", "SSID", "OEMA", "MAZH", "NAME", "GFAC", "MNUM"} <= keywords
    assert p.surfaces[0]["clear_semi_diameter"] == 6.5 and p.aperture == ("image F-number", 5.0)
    with pytest.raises(ValueError, match="6 constructs change ray paths.*COORDBRK.*MIRROR"):
        lumivex.Prescription.read(ROOT / "tests" / "data" / "unmodellable.zmx")


def perfect_lens():
    """Flat face into glass of index 1.5, then the hyperboloid (conic -n^2,
    radius 25) that focuses the beam 50 behind it without aberration; F/5."""
    p = lumivex.Prescription()
    p.add_standard(0.0, 0.0, 1.5)
    p.add_standard(5.0, -25.0, None, conic=-2.25)
    p.set_aperture("entrance pupil diameter", 10.0)
    p.fields = [(0.0, 0.0), (0.1, 0.0)]
    p.wavelengths = [(0.6, 1.0), (0.5, 1.0)]
    p.primary = 0
    return p


def test_diffraction_of_a_prescription_takes_its_fields_wavelengths_and_image_plane():
    import lumivex.analysis as la

    p = perfect_lens()
    # Both wavelengths with their weights on the primary's grid, dx = lambda F# n / M.
    both = la.psf(p, field=0, samples=32)
    assert both.image.shape == (128, 128) and both.field == 0
    assert both.dx == pytest.approx(0.6e-3 * 5.0 * 32 / 128)
    assert float(both.image.sum()) == pytest.approx(both.power, rel=1e-12)
    assert both.power == pytest.approx(0.96 ** 2, abs=3e-3)  # the two faces' Fresnel losses
    assert both.strehl == pytest.approx(1.0, abs=2e-3)
    assert both.image_z == pytest.approx(55.0)
    m = la.mtf(p, samples=32)
    assert m.cutoff == pytest.approx(1.0 / (0.5e-3 * 5.0))
    assert np.abs(m.tangential - m.diffraction_limit).max() < 0.006
    assert np.abs(m.sagittal - m.diffraction_limit).max() < 0.006

    # One wavelength in micrometres: the Airy pattern; pairs weight several.
    green = la.psf(p, wavelength=0.5)
    assert la.encircled_energy(green, [1.2197 * 0.5e-3 * 5.0])[0] == pytest.approx(0.838, abs=0.01)
    red_heavy = la.psf(p, wavelength=[(0.6, 3.0), (0.5, 1.0)], samples=16)
    assert red_heavy.weights.tolist() == [0.75, 0.25]

    # The wavefront at the primary: flat on the axis, NaN outside the pupil,
    # with a little coma off it; a plane behind the focus defocuses it.
    w = la.wavefront(p, field=1, samples=32)
    assert w.opd.shape == (32, 32) and np.isnan(w.opd[0, 0]) and w.field == 1
    assert w.wavelength == pytest.approx(0.6e-3) and 0.01 < w.rms < 0.05
    assert la.wavefront(p, samples=32).pv < 1e-3
    assert abs(la.wavefront(p, image_z=55.1, samples=32).zernike[3]) > 0.3

    for bad, name in [(dict(field=2), "field"), (dict(field_angle=1.0), "field_angle"),
                      (dict(wavelength=[(0.5, -1.0)]), "weight"), (dict(wavelength=[]), "wavelength")]:
        with pytest.raises(ValueError, match=name):
            la.psf(p, **bad)


def test_colour_and_field_curves_of_a_ball_lens_with_its_stop_at_the_centre():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    import lumivex.analysis as la
    import lumivex.plot

    # Every chief ray crosses the ball's centre undeviated: the foci lie
    # F = n r / (2 (n - 1)) = 7.5 from the centre along it, the image height
    # is F tan(theta) (no distortion) at every wavelength (no lateral colour).
    p = lumivex.Prescription()
    glass = lumivex.Material.model(1.5, 60.0)
    p.add_standard(0.0, 5.0, glass)
    p.add_standard(5.0, 0.0, glass)
    p.add_standard(10.0, -5.0)
    p.stop = 1
    p.set_aperture("entrance pupil diameter", 2.0)
    p.fields = [(0.0, 0.0), (20.0, 0.0)]
    p.wavelengths = [(0.4861327, 1.0), (0.5875618, 1.0), (0.6562725, 1.0)]
    p.primary = 1
    curves = la.field_curvature(p, samples=5)
    theta = np.radians(curves.field)
    assert curves.tangential == pytest.approx(7.5 * (np.cos(theta) - 1.0), abs=1e-4)
    assert curves.sagittal == pytest.approx(7.5 * (np.cos(theta) - 1.0), abs=1e-4)
    assert la.distortion(p, samples=5).distortion == pytest.approx(np.zeros(5), abs=1e-6)
    colour = la.lateral_colour(p, samples=3)
    assert colour.difference == pytest.approx(np.zeros(3), abs=1e-9)
    shift = la.chromatic_focal_shift(p, samples=5)
    assert shift.wavelengths[[0, -1]].tolist() == [0.4861327, 0.6562725]
    assert shift.shift[0] < 0 < shift.shift[-1]  # blue focuses short

    for draw, result in [(lumivex.plot.chromatic_focal_shift, shift), (lumivex.plot.lateral_colour, colour),
                         (lumivex.plot.field_curvature, curves), (lumivex.plot.distortion, curves)]:
        ax = draw(result)
        assert ax.get_title() and ax.get_xlabel() and ax.get_legend() is not None
        plt.close(ax.figure)
    with pytest.raises(ValueError, match="Prescription"):
        la.distortion(lumivex.System(1.0, [lumivex.Slab(0, 1.5)]))
    with pytest.raises(ValueError, match="samples"):
        la.field_curvature(p, samples=1)


def test_polychromatic_spot_weighs_the_rays_of_every_wavelength(tool, tmp_path):
    import json
    import subprocess

    import lumivex.analysis as la

    p = lumivex.Prescription.read(TRIPLET)
    p.wavelengths = [(0.4861327, 1.0), (0.5875618, 2.0), (0.6562725, 1.0)]
    d = la.spot(p, field=2, rays=3)
    assert d.points.shape == (3 * 37, 2) and d.wavelengths.tolist() == [0.5875618, 0.4861327, 0.6562725]
    w = d.weights[d.wave]
    centroid = (w[:, None] * d.points).sum(axis=0) / w.sum()
    assert d.centroid == pytest.approx(centroid, abs=1e-12)
    assert d.rms_radius == pytest.approx(np.sqrt((w * ((d.points - centroid) ** 2).sum(axis=1)).sum() / w.sum()))
    primary = la.spot(p, field=2, rays=3, wavelength=0.5875618)
    assert primary.points.shape == (37, 2) and primary.airy_radius == d.airy_radius
    assert primary.points == pytest.approx(d.points[d.wave == 0], abs=1e-12)

    out = subprocess.run([tool, "spot", str(TRIPLET), "--json", "-o", str(tmp_path / "spot.svg")],
                         capture_output=True, text=True, check=True).stdout
    spots = json.loads(out)["spots"]
    assert spots[2]["rays"] == 3 * 127 and len(spots[2]["wavelengthsUm"]) == 3
