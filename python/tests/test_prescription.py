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
