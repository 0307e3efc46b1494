# SPDX-License-Identifier: Apache-2.0
import json
import os
import re
import subprocess

import numpy as np
import pytest

import lumivex
import lumivex.analysis as la
from conftest import ROOT

WAVELENGTH = 5.876e-4


def test_paraxial_data_of_a_thick_singlet_follow_the_lensmaker_formula(singlet):
    n, r1, r2, d = 1.5168, 50.0, -50.0, 5.0
    power = (n - 1) * (1 / r1 - 1 / r2 + (n - 1) * d / (n * r1 * r2))
    f = 1 / power
    bfl = f * (1 - (n - 1) * d / (n * r1))
    p = la.paraxial(singlet, wavelength=WAVELENGTH)
    # Rays 6e-3 off the axis: the paraxial limit to (h/f)² ~ 1e-8.
    assert p.efl == pytest.approx(f, rel=1e-7)
    assert p.bfl == pytest.approx(bfl, rel=1e-7)
    assert p.focus_z == pytest.approx(d + bfl, rel=1e-7)
    assert p.f_number == pytest.approx(f / 12.0, rel=1e-7) and p.pupil_radius == 6.0
    assert la.paraxial(singlet, wavelength=WAVELENGTH, pupil_radius=3.0).f_number == pytest.approx(f / 6.0)
    assert "efl=" in repr(p)


def test_pupil_sets():
    r, rings = 2.0, 3
    expected = [[0.0, 0.0]]
    for k in range(1, rings + 1):
        phi = 2 * np.pi * np.arange(6 * k) / (6 * k)
        expected += list(np.c_[r * k / rings * np.cos(phi), r * k / rings * np.sin(phi)])
    assert np.allclose(la.hexapolar(r, rings), expected, rtol=0, atol=1e-15)
    grid = la.square_grid(1.0, 5)
    assert len(grid) == 13 and np.all(np.hypot(*grid.T) <= 1.0 + 1e-12)
    assert np.array_equal(la.random_pupil(1.0, 50, seed=7), la.random_pupil(1.0, 50, seed=7))
    assert la.meridional_fan(1.0, 5)[:, 0].tolist() == [-1.0, -0.5, 0.0, 0.5, 1.0]


def image_points(system, pupil, z, angle_deg=0.0):
    """Independently: rays parallel at the angle, through the pupil points at
    the first vertex, traced by System.trace and carried to z by numpy."""
    t = np.radians(angle_deg)
    k = np.tile([np.sin(t), 0.0, np.cos(t)], (len(pupil), 1))
    start = np.c_[pupil[:, 0] - np.tan(t) * 2.0, pupil[:, 1], np.full(len(pupil), -2.0)]
    r = system.trace(start, k, wavelength=WAVELENGTH)
    p, d = r.position, r.direction
    return (p + d * ((z - p[:, 2]) / d[:, 2])[:, None])[:, :2], r.ok


def test_spot_equals_a_trace_measured_with_numpy(singlet):
    # A trace before leaves traced radii on the elements; the analyses take
    # the nominal radius all the same, and leave the traced ones alone.
    singlet.trace([[1.0, 0, -1]], [[0, 0, 1.0]], wavelength=WAVELENGTH)
    p = la.paraxial(singlet, wavelength=WAVELENGTH)
    la.spot(singlet, wavelength=WAVELENGTH, field_angle=4.0)
    assert singlet[0].opt_radius == 1.0
    for angle in (0.0, 4.0):
        s = la.spot(singlet, wavelength=WAVELENGTH, field_angle=angle, rays=5)
        pupil = la.hexapolar(6.0, 5)
        points, ok = image_points(singlet, pupil, s.image_z, angle)
        chief = points[0]
        points = points[ok] - chief
        assert s.field_angle == angle and s.rays == ok.sum() == len(s.points) == 91 and s.failed == 0
        assert s.image_z == p.focus_z
        assert np.allclose(s.points, points, rtol=0, atol=1e-10)
        assert np.allclose(s.chief, chief, rtol=0, atol=1e-10)
        centroid = points.mean(axis=0)
        spread = np.hypot(*(points - centroid).T)
        assert np.allclose(s.centroid, centroid, rtol=0, atol=1e-10)
        assert s.rms_radius == pytest.approx(np.sqrt(np.mean(spread**2)), rel=1e-9)
        assert s.geo_radius == pytest.approx(spread.max(), rel=1e-9)
        assert s.airy_radius == pytest.approx(1.22 * WAVELENGTH * p.f_number, rel=1e-15)
        assert not s.points.flags.writeable
    assert s.pupil_radius == 6.0


def test_spots_share_the_axis_image_plane_and_equal_the_tool(singlet, tmp_path):
    several = la.spots(singlet, wavelength=WAVELENGTH, field_angles=[0.0, 3.0], rays=4)
    assert [s.field_angle for s in several] == [0.0, 3.0]
    assert several[1].image_z == several[0].image_z
    one = la.spot(singlet, wavelength=WAVELENGTH, field_angle=3.0, rays=4)
    assert np.array_equal(one.points, several[1].points) and one.rms_radius == several[1].rms_radius

    # The command-line tool runs the same C++ on the same system: equal bits.
    build = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(lumivex.__file__))))
    tool = os.path.join(build, "tools", "lumivex")
    if not os.path.exists(tool):
        pytest.skip("the lumivex tool is not built")
    # A plano-convex lens, which the description format can hold.
    text = "OpticalSystem 6\nSlab 0 1\nLens 5 1.5 1 50 0\n"
    path = tmp_path / "lens.txt"
    path.write_text(text)
    lens = lumivex.System.from_text(text)
    several = la.spots(lens, wavelength=WAVELENGTH, field_angles=[0.0, 3.0], rays=4)
    out = subprocess.run([tool, "spot", str(path), "--fields", "0,3", "--rings", "4", "-w", repr(WAVELENGTH),
                          "-o", os.devnull, "--json"], check=True, capture_output=True, text=True).stdout
    j = json.loads(out)
    p = la.paraxial(lens, wavelength=WAVELENGTH)
    assert [j["paraxial"][k] for k in ("efl", "bfl", "focusZ", "fNumber")] == [p.efl, p.bfl, p.focus_z,
                                                                              p.f_number]
    for row, s in zip(j["spots"], several):
        assert [row["rmsRadius"], row["geoRadius"], row["airyRadius"], row["z"]] == [
            s.rms_radius, s.geo_radius, s.airy_radius, s.image_z]
        assert [row["centroid"]["x"], row["centroid"]["y"]] == s.centroid.tolist()
    out = subprocess.run([tool, "fan", str(path), "--fields", "3", "--rays", "7", "-w", repr(WAVELENGTH),
                          "-o", os.devnull, "--json"], check=True, capture_output=True, text=True).stdout
    row = json.loads(out)["fans"][0]
    fan = la.ray_fan(lens, wavelength=WAVELENGTH, field_angle=3.0, rays=7)
    opd = la.opd_fan(lens, wavelength=WAVELENGTH, field_angle=3.0, rays=7)
    assert row["tangential"] == fan.tangential.tolist() and row["sagittal"] == fan.sagittal.tolist()
    assert row["tangentialOpdWaves"] == opd.tangential.tolist()
    assert row["sagittalOpdWaves"] == opd.sagittal.tolist()


def test_through_focus_is_the_least_squares_parabola_of_the_spot(singlet):
    curve = la.through_focus(singlet, wavelength=WAVELENGTH, z_range=(50.0, 53.0), steps=7, rays=5)
    z, rms = curve
    assert z.tolist() == pytest.approx(np.linspace(50.0, 53.0, 7).tolist(), abs=1e-12)
    pupil = la.hexapolar(6.0, 5)
    ms = []
    for plane in z:
        points, _ = image_points(singlet, pupil, plane)
        ms.append(np.mean(np.sum((points - points.mean(axis=0)) ** 2, axis=1)))
    assert rms == pytest.approx(np.sqrt(ms), rel=1e-9)
    a, b, _ = np.polyfit(z, ms, 2)
    assert curve.best_z == pytest.approx(-b / (2 * a), rel=1e-9)
    # Spherical aberration of a positive lens: the best plane lies inside the paraxial focus.
    assert curve.best_z < la.paraxial(singlet, wavelength=WAVELENGTH).focus_z
    default = la.through_focus(singlet, wavelength=WAVELENGTH, rays=5)
    assert default.best_z == pytest.approx(curve.best_z, rel=1e-12) and len(default.z) == 21


def test_ray_fan_is_the_transverse_error_of_traced_rays(singlet):
    rho, tangential, sagittal = fan = la.ray_fan(singlet, wavelength=WAVELENGTH, rays=9)
    points, _ = image_points(singlet, np.c_[np.r_[rho * 6.0, 0.0], np.zeros(10)], fan.image_z)
    assert tangential == pytest.approx(points[:-1, 0] - points[-1, 0], abs=1e-10)
    # On the axis a lens of revolution makes the sagittal fan the tangential one.
    assert sagittal == pytest.approx(tangential, abs=1e-12)
    rho, w_t, w_s = la.opd_fan(singlet, wavelength=WAVELENGTH, rays=9)
    assert w_t[4] == 0.0 and w_t == pytest.approx(w_t[::-1], abs=1e-9) and w_s == pytest.approx(w_t, abs=1e-9)


def test_position_at_z(singlet):
    r = singlet.trace([[1.0, 0, -1], [60.0, 0, -1]], [[0, 0, 1.0]] * 2, wavelength=WAVELENGTH, keep_nodes=True)
    lines = la.position_at_z((r.position, r.direction), 60.0)
    kept = la.position_at_z(r, 60.0)
    assert np.array_equal(kept[0], lines[0]) and np.isnan(kept[1]).all()
    # Inside the glass a kept beam gives the point on the segment there.
    beam = r.beam(0)
    inside = la.position_at_z(beam, 2.0)
    a, b = beam.nodes["position"][1:3]
    assert inside == pytest.approx(a + (b - a) * (2.0 - a[2]) / (b[2] - a[2]))


def test_plots_return_their_axes(singlet):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    import lumivex.plot

    several = la.spots(singlet, wavelength=WAVELENGTH, field_angles=[0, 2, 4], rays=3)
    axes = lumivex.plot.spot_diagram(several)
    assert len(axes) == 3 and all(a.get_aspect() == 1.0 for a in axes)
    ax = lumivex.plot.spot_diagram(several[0])
    assert "RMS" in ax.get_title() and "GEO" in ax.get_title()
    ax = lumivex.plot.ray_fan(la.opd_fan(singlet, wavelength=WAVELENGTH, rays=5))
    assert ax.get_ylabel() == "OPD (waves)" and len(ax.lines) >= 2
    with pytest.raises(ValueError, match="fan"):
        lumivex.plot.ray_fan(several[0])
    plt.close("all")


def test_submodules_load_as_attributes_and_imports():
    code = ("import lumivex; lumivex.analysis.hexapolar(1.0, 1); lumivex.plot.spot_diagram; "
            "import lumivex.analysis, lumivex.plot; from lumivex import analysis, plot")
    subprocess.run([__import__("sys").executable, "-c", code], check=True, env=dict(os.environ))


@pytest.mark.parametrize("call, name", [
    (lambda s: la.spot(s, wavelength=-1.0), "wavelength"),
    (lambda s: la.spot(s, wavelength=WAVELENGTH, field_angle=95.0), "field_angle"),
    (lambda s: la.spot(s, wavelength=WAVELENGTH, pattern="spiral"), "pattern"),
    (lambda s: la.spot(s, wavelength=WAVELENGTH, rays=0), "rays"),
    (lambda s: la.spot(s, wavelength=WAVELENGTH, pupil_radius=float("nan")), "pupil_radius"),
    (lambda s: la.spot(s, wavelength=WAVELENGTH, image_z=float("inf")), "image_z"),
    (lambda s: la.spot(s, wavelength=WAVELENGTH, threads=-1), "threads"),
    (lambda s: la.spots(s, wavelength=WAVELENGTH, field_angles=[]), "field_angles"),
    (lambda s: la.through_focus(s, wavelength=WAVELENGTH, z_range=(1.0, 60.0)), "z_range"),
    (lambda s: la.through_focus(s, wavelength=WAVELENGTH, steps=1), "steps"),
    (lambda s: la.ray_fan(s, wavelength=WAVELENGTH, rays=1), "rays"),
    (lambda s: la.paraxial(lumivex.System(), wavelength=WAVELENGTH), "system"),
    (lambda s: la.collimated_rays(s, [1.0, 2.0]), "points"),
    (lambda s: la.position_at_z(([[0, 0, 0]], [[0, 0]]), 1.0), "directions"),
    (lambda s: la.hexapolar(-1.0, 2), "r"),
])
def test_bad_arguments_raise_value_error_naming_them(singlet, call, name):
    with pytest.raises(ValueError, match=f"^{name} "):
        call(singlet)


def test_library_failures_are_lumivex_errors():
    flat = lumivex.System(5.0, [lumivex.Slab(0.0, 1.0), lumivex.Slab(5.0, 1.5)])
    with pytest.raises(lumivex.Error, match="no optical power"):
        la.paraxial(flat, wavelength=WAVELENGTH)
    with pytest.raises(lumivex.Error, match="infinity"):
        la.spot(flat, wavelength=WAVELENGTH)


def test_layout_is_the_geometry_the_tool_and_matplotlib_draw(tool, tmp_path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    import lumivex.plot

    text = "OpticalSystem 6\nSlab 0 1\nLens 5 1.5 1 50 0\n"
    path = tmp_path / "lens.txt"
    path.write_text(text)
    svg = subprocess.run([tool, "draw", str(path), "-a", "2", "-n", "7", "-o", "-"], check=True,
                         capture_output=True, text=True).stdout
    system = lumivex.System.from_text(text)
    g = la.layout(system, field_angle=2.0, rays=7)

    def points(text):
        return np.array([[float(v) for v in p.split(",")] for p in text.replace("M", "").replace("L", "").split()])

    # The picture is the geometry through one map per axis: every ray, face
    # and shaded piece point for point.
    drawn = ([points(p) for p in re.findall(r'<polyline class="ray" points="([^"]*)"', svg)]
             + [points(p) for p in re.findall(r'<path class="element" d="([^"]*)"', svg)]
             + [points(p) for p in re.findall(r'<polygon class="medium[^"]*" points="([^"]*)"', svg)])
    shapes = [r.points for r in g.rays] + [f.outline for f in g.faces if len(f.outline)] + [
        p.outline for p in g.pieces]
    assert [len(d) for d in drawn] == [len(s) for s in shapes] and len(g.rays) == 7
    drawn, shapes = np.vstack(drawn), np.vstack(shapes)
    for axis in (0, 1):
        fit = np.polyfit(shapes[:, axis], drawn[:, axis], 1)
        assert np.abs(np.polyval(fit, shapes[:, axis]) - drawn[:, axis]).max() < 0.01
    assert g.markers[0].label in svg and f"\u00d7{g.exaggeration:g}" in svg

    # matplotlib draws the same rays and faces (of the default fan here).
    ax = lumivex.plot.layout(system, ax=plt.figure().add_subplot())
    lines = [np.c_[line.get_xdata(), line.get_ydata()] for line in ax.lines]
    g = la.layout(system)
    for shape in [r.points for r in g.rays] + [f.outline for f in g.faces]:
        assert any(len(line) == len(shape) and np.array_equal(line, shape) for line in lines)
    assert ax.get_xlim() == (g.z_min, g.z_max)

    # A prescription: the same geometry in the tool's SVG and in matplotlib,
    # marks and all.
    triplet = ROOT / "examples" / "triplet.zmx"
    svg = subprocess.run([tool, "draw", str(triplet), "-o", "-"], check=True, capture_output=True,
                         text=True).stdout
    p = lumivex.Prescription.read(triplet)
    g = la.layout(p)
    drawn = ([points(t) for t in re.findall(r'<polyline class="ray" points="([^"]*)"', svg)]
             + [points(t) for t in re.findall(r'<path class="element" d="([^"]*)"', svg)]
             + [points(t) for t in re.findall(r'<polygon class="medium[^"]*" points="([^"]*)"', svg)]
             + [points(t) for t in re.findall(r'<polyline class="(?:stop|image)" points="([^"]*)"', svg)])
    shapes = ([r.points for r in g.rays] + [f.outline for f in g.faces if len(f.outline)]
              + [q.outline for q in g.pieces] + [m.points for m in g.marks])
    assert [len(d) for d in drawn] == [len(s) for s in shapes]
    drawn, shapes = np.vstack(drawn), np.vstack(shapes)
    for axis in (0, 1):
        fit = np.polyfit(shapes[:, axis], drawn[:, axis], 1)
        assert np.abs(np.polyval(fit, shapes[:, axis]) - drawn[:, axis]).max() < 0.01
    # Three rays a field (top, chief, bottom), through the stop's rim and
    # centre, coloured by field; surfaces numbered; three lenses that do not
    # overlap; the stop in air marked, not drawn across the beam; the image
    # plane where the rays end.
    assert [r.field for r in g.rays] == [0, 0, 0, 1, 1, 1, 2, 2, 2] and g.field_labels == ["0°", "10°", "14°"]
    assert all(r.ok for r in g.rays)
    assert [f.label for f in g.faces] == [str(k) for k in range(1, 8)] and len(g.faces[p.stop].outline) == 0
    spans = sorted((q.outline[:, 0].min(), q.outline[:, 0].max()) for q in g.pieces)
    assert len(spans) == 3 and all(a[1] <= b[0] for a, b in zip(spans, spans[1:]))
    assert [m.kind for m in g.marks] == ["stop", "stop", "image plane"]
    s = p.first_order()["stop_semi_diameter"]
    assert g.marks[0].points[0, 1] == pytest.approx(s) and g.marks[2].points[0, 0] == p.image_plane_z
    assert all(r.points[-1, 0] == pytest.approx(p.image_plane_z) for r in g.rays)
    ax = lumivex.plot.layout(p, ax=plt.figure().add_subplot())
    lines = [np.c_[line.get_xdata(), line.get_ydata()] for line in ax.lines]
    for shape in [r.points for r in g.rays] + [f.outline for f in g.faces if len(f.outline)] + [
            m.points for m in g.marks]:
        assert any(len(line) == len(shape) and np.array_equal(line, shape) for line in lines)
    assert [t.get_text() for t in ax.get_legend().get_texts()] == g.field_labels

    # A lens whose faces reach different heights closes with a flat step at
    # the smaller face's rim out to the larger.
    q = lumivex.Prescription()
    q.add_standard(0.0, 30.0, 1.5, clear_semi_diameter=8.0)
    q.add_standard(4.0, -30.0, clear_semi_diameter=6.0)
    q.set_aperture("entrance pupil diameter", 8.0)
    q.fields = [(0.0, 0.0)]
    q.wavelengths = [0.5876]
    piece = la.layout(q).pieces[0].outline
    back_rim = 4.0 - (30.0 - np.sqrt(30.0**2 - 6.0**2))  # the back face bends towards -z
    assert np.abs(piece[:, 1]).max() == pytest.approx(8.0)
    assert any(np.allclose(v, [back_rim, 8.0], atol=1e-9) for v in piece)
    assert any(np.allclose(v, [back_rim, 6.0], atol=1e-9) for v in piece)
    plt.close("all")


def window_and_lens():
    """A window of clear semi-diameter 6 at z = 0, the stop on the flat face of
    a plano-convex lens (index 1.5) at z = 20, its convex face of radius -50 at
    z = 25: EFL 100, entrance pupil of diameter 10 at the stop."""
    p = lumivex.Prescription()
    p.add_standard(0.0, 0.0, clear_semi_diameter=6.0)
    p.add_standard(20.0, 0.0, 1.5)
    p.add_standard(25.0, -50.0)
    p.stop = 1
    p.set_aperture("entrance pupil diameter", 10.0)
    p.fields = [(0.0, 0.0), (10.0, 0.0)]
    p.wavelengths = [0.5876]
    return p


def test_prescriptions_bring_their_pupil_fields_image_plane_and_clear_apertures():
    p = window_and_lens()
    par = la.paraxial(p)
    assert par.efl == pytest.approx(100.0) and par.bfl == pytest.approx(100.0)
    assert par.entrance_pupil_z == pytest.approx(20.0) and par.entrance_pupil_diameter == pytest.approx(10.0)
    assert par.f_number == pytest.approx(10.0)
    # The 10-degree beam crosses the window 20 tan 10° lower than the stop: the
    # rays of pupil point (px, py) beyond 6 there are stopped.
    pupil = la.hexapolar(1.0, 8)
    clipped = int((np.hypot(5 * pupil[:, 0] - 20 * np.tan(np.radians(10)), 5 * pupil[:, 1]) > 6).sum())
    axial, off = la.spots(p, rays=8)
    assert axial.vignetted == 0 and off.vignetted == clipped > 10 and off.failed == 0
    assert off.rays == len(pupil) - clipped and off.image_z == pytest.approx(125.0)
    assert la.spot(p, field=1, rays=8).vignetted == clipped
    # A bare system with explicit arguments keeps working as before.
    bare = la.paraxial(p.system_at(), wavelength=5.876e-4)
    assert bare.efl == pytest.approx(100.0, rel=1e-6)
    fan = la.ray_fan(p, field=1, rays=11)
    assert np.isnan(fan.tangential).sum() > 0 and fan.vignetted > 0
    with pytest.raises(lumivex.Error, match="in front of the last lens surface"):
        la.spot(p, image_z=10.0)


def test_diffraction_of_the_aberration_free_singlet():
    # The hyperbolic singlet of examples/singlet.txt: an Airy pattern whose
    # samples sum to the power the two faces transmit, and the MTF of a
    # circular pupil; the results' arrays are read-only views.
    s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    w = la.wavefront(s, wavelength=5e-4, samples=32)
    assert w.opd.shape == (32, 32) and np.nanmax(np.abs(w.opd)) < 1e-6
    assert np.isnan(w.opd[0, 0]) and w.amplitude[0, 0] == 0 and w.zernike.shape == (37,)
    p = la.psf(s, wavelength=5e-4)
    assert p.image.shape == (256, 256) and not p.image.flags.writeable
    assert p.image.sum() == pytest.approx(p.power) and p.power == pytest.approx(np.mean(w.amplitude[~np.isnan(w.opd)] ** 2), rel=1e-3)
    assert p.dx == pytest.approx(5e-4 * p.f_numbers[0] / 4) and p.strehl == pytest.approx(1, abs=1e-3)
    m = la.mtf(p)
    nu = m.frequency / m.cutoff
    assert np.allclose(m.tangential, 2 / np.pi * (np.arccos(nu) - nu * np.sqrt(1 - nu ** 2)), atol=5e-3)
    assert m.frequency[-1] == pytest.approx(1 / (5e-4 * p.f_numbers[0]))
    ee = la.encircled_energy(p, [0, 1.22 * 5e-4 * p.f_numbers[0], 1])
    assert ee[0] == 0 and ee[1] == pytest.approx(0.838, abs=0.01) and ee[2] == pytest.approx(1)
    assert la.ensquared_energy(p, 1.0)[0] == pytest.approx(1)
    defocused = la.psf(s, wavelength=5e-4, image_z=55.5)
    assert defocused.strehl < 0.5 and defocused.image.sum() == pytest.approx(p.power)
    with pytest.raises(ValueError, match="fft_size"):
        la.psf(s, wavelength=5e-4, samples=64, fft_size=100)
    with pytest.raises(ValueError, match="radii"):
        la.encircled_energy(p, [-1])
