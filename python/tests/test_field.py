# SPDX-License-Identifier: Apache-2.0
import subprocess

import numpy as np
import pytest

import lumivex


def test_field_survives_a_straight_fan():
    # Beams that run straight come back as the field they came from.
    columns = 129
    dx = 4.0 / (columns - 1)
    x = (np.arange(columns) - columns // 2) * dx
    amplitude = np.exp(-(x / 0.8) ** 2)
    field = amplitude * np.exp(1j * 0.0 * x)
    fan = lumivex.field_to_fan(field, dx, dx, 41, 1, 5e-4)
    assert len(fan) == 41 and all(len(b) == 1 for b in fan)
    start = np.array([b.nodes[0] for b in fan])
    width = start["position"][-1, 0] - start["position"][0, 0]
    # A two-node beam per ray: the start and 10 further along z.
    beams = []
    for node in start:
        b = lumivex.Beam(fan[0].wavelength)
        b.add_node(node["position"], node["direction"], node["polarization"], node["intensity"])
        b.add_node(node["position"] + 10 * node["direction"], node["direction"], node["polarization"],
                   node["intensity"], 1.0)
        beams.append(b)
    back = lumivex.fan_to_field(beams, dx, dx, width, 0.0, columns)
    assert back.shape == (1, columns) and back.dtype == complex
    inner = np.abs(x) < 1.5
    assert np.abs(back[0, inner]) == pytest.approx(amplitude[inner], abs=2e-3)


def test_field_round_trip_is_the_tools(tool, tmp_path):
    text = "OpticalSystem 6\nSlab 0 1\nLens 5 1.5 1 50 0\n"
    path = tmp_path / "lens.txt"
    path.write_text(text)
    # A plane wave across 80 % of the entrance diameter, to 40 past the lens.
    csv = subprocess.run([tool, "field", str(path), "--plane-wave", "--out-z", "45", "-o", "-"], check=True,
                         capture_output=True, text=True).stdout
    rows = np.array([[float(v) for v in line.split(",")] for line in csv.splitlines()[1:]])
    r = lumivex.field_round_trip(lumivex.System.from_text(text), np.ones(201), 1.6 * 6.0 / 200,
                                 wavelength=5.5e-4, rays=51, out_z=45.0)
    assert len(r.rays) == 51 and not r.inverted and r.z == 45.0
    assert r.x.tolist() == rows[:, 3].tolist()
    assert np.abs(r.field) == pytest.approx(rows[:, 4], rel=1e-14, abs=1e-300)
    # Beyond the focus the row comes out turned over; in the caustic the
    # rays cross and make no single field.
    assert lumivex.field_round_trip(lumivex.System.from_text(text), np.ones(201), 0.048, wavelength=5.5e-4,
                                    rays=51, out_z=80.0).inverted
    with pytest.raises(lumivex.Error, match="cross each other"):
        lumivex.field_round_trip(lumivex.System.from_text(text), np.ones(201), 0.048, wavelength=5.5e-4,
                                 rays=51, out_z=55.0)
