# SPDX-License-Identifier: Apache-2.0
import pathlib

import pytest

import lumivex

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture
def singlet():
    """Spheres of radius ±50 around 5 mm of N-BK7, radius 6."""
    s = lumivex.System(default_radius=6.0)
    s.add(lumivex.SphericalLens(0.0, 1.0, 0.0, 50.0))
    s.add(lumivex.SphericalLens(5.0, 1.5168, 0.0, -50.0))
    return s


@pytest.fixture
def tool():
    """The lumivex tool of the same build, or a skip."""
    import os

    build = pathlib.Path(lumivex.__file__).resolve().parents[2]
    path = build / "tools" / "lumivex"
    if not os.path.exists(path):
        pytest.skip("the lumivex tool is not built")
    return str(path)
