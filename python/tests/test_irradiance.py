# SPDX-License-Identifier: Apache-2.0
"""Irradiance maps: rays made, traced and binned chunk by chunk, exactly."""

import pickle

import numpy as np
import pytest

import lumivex
import lumivex.analysis as la

WAVELENGTH = 5.876e-4


def test_a_focused_beam_lands_where_the_spot_says(singlet):
    # The beam carries unit power; what the two faces do not transmit is
    # lost, and every ray that goes through lands on its default grid.
    m = la.irradiance(singlet, rays=30000, wavelength=WAVELENGTH, z=52.0, bins=(40, 30), seed=7)
    assert m.image.shape == (30, 40)
    assert m.rays == 30000 and m.failed == 0 and m.on_grid == 30000
    assert m.power == pytest.approx(m.image.sum(), rel=1e-12)
    assert m.power == m.power_through
    assert 0.9 < m.power < 0.97  # two Fresnel losses of about 4 %
    # The default grid is the box of the first rays, widened by 5 %.
    x0, x1, y0, y1 = m.extent
    assert x0 < -0.9 * m.rms_radius and x1 > 0.9 * m.rms_radius and y0 < 0 < y1
    # Unweighted spot statistics agree with the spot of the same plane.
    spot = la.spot(singlet, wavelength=WAVELENGTH, rays=3000, pattern="random", image_z=52.0)
    assert m.rms_radius == pytest.approx(spot.rms_radius, rel=0.05)
    assert np.allclose(m.centroid, 0.0, atol=0.02 * m.rms_radius)
    # Off axis the spot follows the chief ray, through the first vertex.
    tilted = la.irradiance(singlet, rays=5000, wavelength=WAVELENGTH, z=52.0, bins=16, field=3.0)
    assert tilted.centroid[0] == pytest.approx(52.0 * np.tan(np.radians(3.0)), rel=0.1)


def test_the_same_rays_give_the_same_bits_however_they_are_split(singlet):
    kwargs = dict(rays=9000, wavelength=WAVELENGTH, z=51.0, bins=24, extent=(-1, 1, -1.2, 1.2), seed=11)
    whole = la.irradiance(singlet, threads=1, **kwargs)
    for threads in (2, 3):
        m = la.irradiance(singlet, threads=threads, **kwargs)
        assert np.array_equal(m.image, whole.image)
        assert (m.rms_radius, tuple(m.centroid), m.on_grid) == (whole.rms_radius, tuple(whole.centroid),
                                                                 whole.on_grid)
    # Partial maps of any ranges of the stream, merged in any order.
    job = la._IrradianceJob(singlet, 9000, WAVELENGTH, 51.0, 24, kwargs["extent"], 0.0, 11, 1, None, None)
    parts = [job.stream(a, b - a, 1) for a, b in ((0, 1000), (1000, 1001), (1001, 7000), (7000, 9000))]
    merged = pickle.loads(pickle.dumps(parts[3]))  # partial maps travel between processes
    for p in (parts[1], parts[0], parts[2]):
        merged.merge(p)
    assert np.array_equal(merged.image, whole.image)
    assert merged.rms_radius == whole.rms_radius and merged.power == whole.power
    # Another seed is another set of rays.
    other = la.irradiance(singlet, **{**kwargs, "seed": 12})
    assert not np.array_equal(other.image, whole.image)
    elsewhere = la._IrradianceJob(singlet, 10, WAVELENGTH, 50.0, 24, kwargs["extent"], 0.0, 11, 1, None, None)
    with pytest.raises(lumivex.Error, match="same grid"):
        merged.merge(elsewhere.stream(0, 10, 1))


def test_rays_of_ones_own_and_a_figure(singlet, tmp_path):
    p, k, e = la.collimated_rays(singlet, la.random_pupil(6.0, 2000, seed=1))
    w = np.linspace(0.5, 1.0, 2000)
    m = la.irradiance(singlet, positions=p, directions=k, polarizations=e, intensities=w, wavelength=WAVELENGTH,
                      z=52.0, bins=20)
    r = singlet.trace(p, k, wavelength=WAVELENGTH, polarizations=e, intensities=w)
    assert m.rays == 2000 and np.isnan(m.field_angle)
    assert m.power == pytest.approx(r.intensity[r.ok].sum(), rel=1e-12)
    import matplotlib

    matplotlib.use("Agg")
    ax = lumivex.plot.irradiance(m)
    assert ax.images and "2,000 rays" in ax.get_title()
    ax.figure.savefig(tmp_path / "irradiance.png")
    assert (tmp_path / "irradiance.png").stat().st_size > 1000


def test_a_prescription_fills_its_pupil_and_lands_in_its_image_plane():
    from conftest import ROOT

    p = lumivex.Prescription.read(ROOT / "examples" / "triplet.zmx")
    m = la.irradiance(p, rays=3000, bins=16, seed=3)
    assert (m.z, m.wavelength, m.field_angle) == (p.image_plane_z, p.primary_wavelength, 0.0)
    assert m.failed == 0 and np.allclose(m.centroid, 0.0, atol=0.1 * m.rms_radius)
    assert 0.6 < m.power < 1.0  # six faces reflect some of it
    # At 14° the light lands about f·tan(14°) off the axis; the stop and
    # the rims it is aimed through let every aimed ray pass or stop it.
    edge = la.irradiance(p, rays=3000, bins=16, field=2, seed=3, wavelength=0.4861327)
    efl = p.first_order()["efl"]
    assert edge.centroid[0] == pytest.approx(efl * np.tan(np.radians(14.0)), rel=0.05)
    assert edge.field_angle == 14.0 and edge.wavelength == 0.4861327
    # Aimed where traced: any split of the stream, on any threads, gives the same bits.
    job = la._IrradianceJob(p, 3000, None, None, 16, edge.extent, 2, 3, 1, None, None)
    job.wavelength = 0.4861327
    parts = [job.stream(a, b - a, t) for (a, b), t in (((0, 1000), 2), ((1000, 1001), 1), ((1001, 3000), 2))]
    merged = parts[2]
    merged.merge(parts[0])
    merged.merge(parts[1])
    assert np.array_equal(merged.image, edge.image) and merged.rms_radius == edge.rms_radius
    # A window of clear semi-diameter 4 in a beam of radius 5 stops the
    # rays beyond 4: 1 - 4²/5² of them.
    q = lumivex.Prescription()
    q.add_standard(0.0, 0.0, clear_semi_diameter=4.0)
    q.add_standard(20.0, 0.0, 1.5)
    q.add_standard(25.0, -50.0)
    q.stop = 1
    q.set_aperture("entrance pupil diameter", 10.0)
    q.fields = [(0.0, 0.0)]
    q.wavelengths = [0.5876]
    clipped = la.irradiance(q, rays=4000, bins=16, seed=3)
    assert clipped.failed / clipped.rays == pytest.approx(1 - 16 / 25, abs=0.03)
    for change, match in ((dict(field=3), "field"), (dict(field=0.5), "field"),
                          (dict(positions=[[0, 0, -1]], directions=[[0, 0, 1]]), "Prescription")):
        with pytest.raises(ValueError, match=match):
            la.irradiance(p, **{**dict(rays=10, bins=4), **change})


def test_bad_arguments_name_themselves(singlet):
    base = dict(rays=100, wavelength=WAVELENGTH, z=52.0, bins=8)
    for change, match in ((dict(bins=0), "bins"), (dict(bins=(3,)), "bins"), (dict(extent=(1, 0, 0, 1)), "extent"),
                          (dict(rays=0), "rays"), (dict(seed=-1), "seed"), (dict(field=95), "field"),
                          (dict(rays=None), "rays"), (dict(positions=[[0, 0, -1]]), "directions"),
                          (dict(z=np.nan), "z")):
        with pytest.raises(ValueError, match=match):
            la.irradiance(singlet, **{**base, **change})
    with pytest.raises(lumivex.Error, match="reaches the plane"):
        blocked = lumivex.System(6.0, [lumivex.SphericalLens(0.0, 1.0, 0.0, 1e-3)])
        la.irradiance(blocked, **base)
