# SPDX-License-Identifier: Apache-2.0
"""lumivex: geometric-optics ray tracing.

Systems of refracting surfaces and gradient-index rods, traced ray by ray
with Snell refraction, Fresnel transmittance, polarization and optical
phase. Lengths share one unit of the user's choice (the wavelength too).

Contents
--------
System
    Elements in order; ``trace`` (many rays as arrays), ``trace_beam`` (one
    ray, every node), ``from_text``/``read``/``to_text``, ``from_zmx``.
read_zmx, LensFileReport
    A .zmx lens file as a System, with what the import found.
Prescription, Material
    A lens as designers define it: surfaces and materials, stop, aperture,
    fields, wavelengths (micrometres), object and image; ``system_at``,
    ``rays`` (aimed at the stop), ``read``/``write`` (.zmx, .json).
Slab, Lens, GeneralLens, EvenAsphere, SphericalLens, EllipticalLens, HyperbolicLens,
FresnelLens, PolynomialSurface, PolynomialXYSurface, MatrixSurface,
MatrixLens, GrinRod
    The element kinds; ``element_kinds()`` lists the library's catalogue.
Beam, TraceResult
    Traced rays.
field_to_fan, fan_to_field, field_round_trip
    Sampled complex fields to fans of beams and back, and a row of a field
    through a system (``lumivex field``).
Error, TraceError
    What the library reports.
analysis
    Paraxial data, spot diagrams, through-focus curves, ray and OPD fans,
    pupil ray sets (imported on use).
plot
    matplotlib figures (imported on use): ``layout``, ``spot``,
    ``spot_diagram``, ``ray_fan``.
distributed
    Tracing on Dask workers (imported on use): ``trace``, ``trace_to_dask``.
optimize
    Damped least squares on a prescription (imported on use): ``Optimizer``.

Examples
--------
>>> import lumivex
>>> s = lumivex.System.from_text("OpticalSystem 6\\nSlab 0 1\\nLens 5 1.5 1 50 0\\n")
>>> b = s.trace_beam([1.0, 0.0, -1.0], [0.0, 0.0, 1.0], wavelength=5e-4)
>>> len(b)
3
>>> round(lumivex.analysis.paraxial(s, wavelength=5e-4).efl, 3)
50.0
"""

from ._lumivex import (  # noqa: F401
    Beam,
    EllipticalLens,
    Element,
    Error,
    EvenAsphere,
    FresnelLens,
    FunctionalSurface,
    GeneralLens,
    GRIN,
    GrinRod,
    HyperbolicLens,
    Lens,
    LensFileReport,
    MatrixLens,
    Material,
    MatrixSurface,
    PolynomialSurface,
    Prescription,
    PolynomialXYSurface,
    Slab,
    SphericalLens,
    Surface,
    System,
    TraceError,
    TraceResult,
    fan_to_field,
    field_to_fan,
    read_zmx,
)
from ._lumivex import FieldRoundTrip, field_round_trip  # noqa: F401
from ._lumivex import ElementKind, element_kinds  # noqa: F401
from ._version import __version__  # noqa: F401

__all__ = [
    "Beam", "Element", "Error", "FunctionalSurface", "GRIN", "Surface", "System",
    "TraceError", "TraceResult", "fan_to_field", "field_to_fan",
    "Slab", "Lens", "GeneralLens", "SphericalLens", "EllipticalLens", "HyperbolicLens",
    "FresnelLens", "PolynomialSurface", "PolynomialXYSurface", "MatrixSurface",
    "MatrixLens", "GrinRod", "EvenAsphere", "LensFileReport", "read_zmx",
    "FieldRoundTrip", "field_round_trip",
    "Prescription", "Material",
    "ElementKind", "element_kinds", "__version__",
]


_SUBMODULES = ("analysis", "plot", "distributed", "optimize")


def __getattr__(name):
    # lumivex.analysis, lumivex.plot and lumivex.distributed on first use, so
    # that `import lumivex` imports neither matplotlib nor Dask. import_module,
    # not `from . import`: that looks the name up here first and recurses.
    if name in _SUBMODULES:
        import importlib
        return importlib.import_module("." + name, __name__)
    raise AttributeError(f"module 'lumivex' has no attribute {name!r}")
