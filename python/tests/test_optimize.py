# SPDX-License-Identifier: Apache-2.0
import numpy as np
import pytest

import lumivex
import lumivex.optimize
from conftest import ROOT

TRIPLET = ROOT / "examples" / "triplet.zmx"
BLUE, GREEN, RED = 0.4861327, 0.5875618, 0.6562725


def triplet_optimizer(rays=30):
    opt = lumivex.optimize.Optimizer(lumivex.Prescription.read(TRIPLET))
    for i in (0, 1, 3, 4, 5, 6):
        opt.vary("curvature", i)
    opt.vary("thickness", 1, bounds=(1.0, 8.0))
    for field in (0, 2):
        opt.add("rms_spot", field=field, wavelength=GREEN, rays=rays)
    opt.add("rms_spot", field=1, wavelength=BLUE, rays=rays)
    opt.add("efl", target=50.0, weight=0.01)
    opt.add("min_thickness", target=1.0, element=3)
    return opt


def test_the_jacobian_is_the_residuals_derivative_and_scipy_can_use_both():
    opt = triplet_optimizer()
    x0 = opt.x0
    assert x0.shape == (7,) and opt.bounds[0][6] == 1.0 and opt.bounds[1][6] == 8.0
    r, J = opt.residuals(), opt.jacobian()
    assert J.shape == (r.size, 7)
    assert float(r @ r) == pytest.approx(opt.merit(), rel=1e-12)
    # Every column, the aim's change included, against central differences.
    Jd = opt.jacobian_by_differences()
    assert np.abs(J - Jd).max() <= 1e-5 * np.abs(J).max()

    # fun/jac take a vector and leave the lens at it, as least_squares wants.
    x = x0 * np.r_[1.03, 0.97, 1.03, 0.97, 1.03, 0.97, 1.0]
    assert not np.array_equal(opt.fun(x), r)
    assert opt.x0 == pytest.approx(x, rel=1e-14)
    assert opt.jac(x).shape == J.shape
    scipy_optimize = pytest.importorskip("scipy.optimize")
    fit = scipy_optimize.least_squares(opt.fun, x, jac=opt.jac, bounds=opt.bounds, max_nfev=30)
    assert 2 * fit.cost < 0.2 * float(opt.fun(x) @ opt.fun(x))


def test_a_run_recovers_the_design_and_reports_per_operand():
    opt = triplet_optimizer()
    design = opt.merit()
    x = opt.x0
    x[:6] *= np.where(np.arange(6) % 2 == 0, 1.05, 0.95)
    opt.set_x(x)
    seen = []
    result = opt.run(max_iterations=40, progress=lambda report: seen.append(report["merit"]))
    assert result.merit < design < result.merit_before
    assert len(seen) == len(result.history) and np.all(np.diff(result.history) <= 0)
    assert result.contributions_after.sum() == pytest.approx(result.merit)
    assert result.contributions_before.sum() == pytest.approx(result.merit_before)
    assert len(result.operands) == 5 and result.operands[2] == "rms spot field 1 0.4861 um"
    assert 1.0 <= result.x[6] <= 8.0
    # The prescription carries the values; its spot is what the run measured.
    p = result.prescription
    assert isinstance(p, lumivex.Prescription)
    assert 1.0 / p.system_at()[0].curvature_radius == pytest.approx(result.x[0], rel=1e-14)
    assert p.first_order()["efl"] == pytest.approx(result.values_after[3], rel=1e-12)
    s = result.sensitivities
    assert s["operand_values"].shape == (5, 7) and s["variables"][6] == "thickness 1"
    table = result.table()
    assert "rms spot field 2 0.5876 um" in table and table.splitlines()[-1].startswith("merit")

    # A callback that says stop ends the run at the start; what it raises, run raises.
    assert opt.run(progress=lambda report: False).iterations == 0

    def boom(report):
        raise KeyError("from the callback")
    with pytest.raises(KeyError, match="from the callback"):
        opt.run(progress=boom)


def test_bad_names_and_indices_say_what_is_wrong():
    p = lumivex.Prescription.read(TRIPLET)
    opt = lumivex.optimize.Optimizer(p)
    with pytest.raises(ValueError, match="unknown variable kind 'radius'"):
        opt.vary("radius", 1)
    with pytest.raises(IndexError, match="element 9"):
        opt.vary("curvature", 9)
    with pytest.raises(ValueError, match="has no curvature"):
        opt.vary("curvature", 2)  # the flat stop is a Slab
    with pytest.raises(ValueError, match="term="):
        opt.vary("asphere", 1)
    opt.vary("curvature", 1)
    with pytest.raises(ValueError, match="varied already"):
        opt.vary("curvature", 1)
    with pytest.raises(ValueError, match="unknown operand 'spot'.*'rms_spot'"):
        opt.add("spot")
    with pytest.raises(IndexError, match="field 5"):
        opt.add("rms_spot", field=5)
    with pytest.raises(TypeError, match="efl takes no field="):
        opt.add("efl", field=1)
    with pytest.raises(TypeError, match="needs element="):
        opt.add("min_thickness", target=1.0)
    with pytest.raises(ValueError, match="one value per variable"):
        opt.fun([1.0, 2.0])
    with pytest.raises(TypeError, match="Prescription"):
        lumivex.optimize.Optimizer("triplet.zmx")
    # Nothing half-added stays behind.
    assert opt.variables == ["curvature 1"] and opt.operands == []
