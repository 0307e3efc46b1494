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
