# SPDX-License-Identifier: Apache-2.0
import os
import subprocess
import sys

import pytest

from conftest import ROOT


@pytest.mark.parametrize("script", ["singlet_spot.py", "grin_field.py", "irradiance_map.py", "fibre_coupler.py",
                                    "optimize_triplet.py", "grin_pair_coupler.py"])
def test_example_writes_its_figure(tmp_path, script):
    output = tmp_path / (script[:-3] + ".png")
    import lumivex

    package = os.path.dirname(os.path.dirname(os.path.abspath(lumivex.__file__)))
    env = dict(os.environ, MPLBACKEND="Agg", PYTHONPATH=package)
    subprocess.run([sys.executable, str(ROOT / "examples" / "python" / script), str(output)],
                   check=True, env=env, cwd=tmp_path, capture_output=True, timeout=300)
    assert output.stat().st_size > 10000


def test_docstring_examples_run():
    import doctest

    import lumivex
    import lumivex.analysis
    import lumivex.optimize
    import lumivex.plot

    for module in (lumivex, lumivex.analysis, lumivex.plot, lumivex.optimize, lumivex._lumivex):
        failures, _ = doctest.testmod(module, optionflags=doctest.ELLIPSIS)
        assert failures == 0, module.__name__
