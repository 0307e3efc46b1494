# SPDX-License-Identifier: Apache-2.0
"""Analyses a lens designer reads: paraxial data, spot diagrams, the
through-focus curve, ray fans and OPD fans.

Every analysis traces a collimated beam, the beam of the ``lumivex spot``
and ``lumivex fan`` commands: parallel rays in the x-z plane at a field
angle, aimed so that the beam is centred on the axis where it meets the
first element, filling the entrance disk (``pupil_radius``, by default the
first element's radius). The image plane defaults to the real paraxial
focus of the axis; the medium behind the last element has index 1.

Field angles are in **degrees**, as the tool's ``--fields``, positive
towards +x; lengths and the wavelength are in the system's unit. The
numbers are the library's own: each function calls its C++ counterpart on
copies of the system's elements, with the GIL released while it traces.

Contents
--------
paraxial
    EFL, BFL, paraxial focus and F-number.
spot, spots
    Spot diagrams at one or several field angles, in one image plane.
through_focus
    The RMS spot radius against the image plane, and the plane of least RMS.
ray_fan, opd_fan
    Transverse ray errors and the optical path difference across the pupil.
wavefront
    The OPD over a square pupil grid, its Fringe Zernike fit, RMS and PV.
psf, mtf
    The point spread function by FFT with its Strehl ratio, and the MTF.
encircled_energy, ensquared_energy
    The PSF's energy within circles or squares about its centroid.
chromatic_focal_shift, lateral_colour
    A prescription's paraxial focus against the wavelength, and its chief
    ray's height difference between the extreme wavelengths.
field_curvature, distortion
    A prescription's tangential and sagittal foci and its distortion
    against the field.
fibre_coupling
    The power a single-mode fibre at an object point couples into a fibre
    in the image plane.
hexapolar, square_grid, random_pupil, meridional_fan
    The pupil ray sets, as (M, 2) arrays of entrance-pupil points.
collimated_rays
    The start rays of the beam through pupil points, for ``System.trace``.
position_at_z
    Where traced rays cross a plane.
layout
    The picture of a system and its rays as geometry, as ``lumivex draw``
    and ``lumivex.plot.layout`` draw it.
irradiance
    Power per bin of a detector grid, from many rays made, traced and
    binned chunk by chunk (memory stays that of the grid).

Examples
--------
>>> import lumivex, lumivex.analysis as la
>>> s = lumivex.System(default_radius=6.0)
>>> s.add(lumivex.SphericalLens(0.0, 1.0, 0.0, 50.0))
>>> s.add(lumivex.SphericalLens(5.0, 1.5168, 0.0, -50.0))
>>> p = la.paraxial(s, wavelength=5.876e-4)
>>> round(p.efl, 2)
49.21
>>> sd = la.spot(s, wavelength=5.876e-4, field_angle=2.0)
>>> sd.points.shape
(127, 2)
"""

import math
import numbers

import numpy as np

from ._lumivex import Beam as _Beam
from ._lumivex import Prescription as _Prescription
from ._lumivex import _analysis as _core

Wavefront = _core.Wavefront
Psf = _core.Psf
Mtf = _core.Mtf
BeamCoupling = _core.BeamCoupling
FocalShift = _core.FocalShift
LateralColour = _core.LateralColour
FieldCurves = _core.FieldCurves
FibreCoupling = _core.FibreCoupling

__all__ = [
    "Paraxial", "Spot", "ThroughFocus", "RayFan", "OpdFan",
    "paraxial", "spot", "spots", "through_focus", "ray_fan", "opd_fan",
    "hexapolar", "square_grid", "random_pupil", "meridional_fan",
    "collimated_rays", "position_at_z", "Layout", "layout", "Irradiance", "irradiance",
    "Wavefront", "Psf", "Mtf", "wavefront", "psf", "mtf", "encircled_energy", "ensquared_energy",
    "BeamCoupling",
    "FocalShift", "LateralColour", "FieldCurves", "chromatic_focal_shift", "lateral_colour",
    "field_curvature", "distortion", "FibreCoupling", "fibre_coupling",
]

_PATTERNS = ("hexapolar", "grid", "random")
# Per pattern: the default of `rays` and its least value.
_DEFAULT_RAYS = {"hexapolar": 6, "grid": 13, "random": 127}
_RADIANS = math.pi / 180.0


# -- argument checks: a ValueError naming the argument ------------------------

def _real(value, name):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError(f"{name} must be a number, not {value!r}")
    value = float(value)
    if not math.isfinite(value):
        raise ValueError(f"{name} must be finite, not {value!r}")
    return value


def _positive(value, name):
    value = _real(value, name)
    if value <= 0.0:
        raise ValueError(f"{name} must be positive, not {value!r}")
    return value


def _integer(value, name, least):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise ValueError(f"{name} must be an integer, not {value!r}")
    if value < least:
        raise ValueError(f"{name} must be at least {least}, not {value!r}")
    return int(value)


def _angle(value, name="field_angle"):
    value = _real(value, name)
    if not abs(value) < 90.0:
        raise ValueError(f"{name} must lie within ±90 degrees, not {value!r}")
    return value


def _optional(value, check, name):
    return None if value is None else check(value, name)


def _system(system):
    if not hasattr(system, "trace") or len(system) == 0:
        raise ValueError("system must be a lumivex.System holding at least one element")
    return system


def _lens(system):
    return isinstance(system, _Prescription)


def _lens_common(lens, wavelength, pupil_radius, threads):
    """A prescription's arguments: the wavelength in micrometres (None: its
    primary), the entrance pupil radius over its aperture (None: its own)."""
    lens.validate()
    return (_optional(wavelength, _positive, "wavelength"), _optional(pupil_radius, _positive, "pupil_radius"),
            _integer(threads, "threads", 0))


def _field(lens, field):
    field = _integer(field, "field", 0)
    if field >= len(lens.fields):
        raise ValueError(f"field must be an index into the prescription's {len(lens.fields)} fields, not {field}")
    return field


def _common(system, wavelength, pupil_radius, threads):
    if wavelength is None:
        raise ValueError("wavelength is required for a System (in its length unit); "
                         "a Prescription brings its own")
    return (_system(system), _positive(wavelength, "wavelength"),
            _optional(pupil_radius, _positive, "pupil_radius"), _integer(threads, "threads", 0))


def _z_range(z_range):
    """(z_from, z_to) of a pair of planes, or (None, None) for None."""
    if z_range is None:
        return None, None
    try:
        z_from, z_to = (_real(z, "z_range") for z in z_range)
    except TypeError:
        raise ValueError(f"z_range must be a pair of planes, not {z_range!r}") from None
    return z_from, z_to


def _pattern(pattern, rays, seed):
    if pattern not in _PATTERNS:
        raise ValueError(f"pattern must be one of {', '.join(map(repr, _PATTERNS))}, not {pattern!r}")
    rays = _DEFAULT_RAYS[pattern] if rays is None else _integer(rays, "rays", 1)
    seed = _integer(seed, "seed", 0)
    if seed >= 2**64:
        raise ValueError(f"seed must be below 2**64, not {seed!r}")
    return pattern, rays, seed


# -- results ---------------------------------------------------------------------
# The library's result types themselves, bound with read-only attributes.

Paraxial = _core.Paraxial
Spot = _core.Spot
ThroughFocus = _core.ThroughFocus
RayFan = _core.RayFan
OpdFan = _core.OpdFan
Layout = _core.Layout


# Irradiance, made here from the chunks' sums, keeps its values read-only
# in the same way.

def _frozen(a):
    a.flags.writeable = False
    return a


class _Result:
    __slots__ = ()

    def __setattr__(self, name, value):
        raise AttributeError(f"{type(self).__name__} is read-only")

    def _set(self, **values):
        for name, value in values.items():
            if isinstance(value, np.ndarray):
                value = _frozen(value)
            object.__setattr__(self, name, value)


# -- analyses ------------------------------------------------------------------

def paraxial(system, *, wavelength=None, field_angle=0.0, pupil_radius=None):
    """First-order data: EFL, BFL, paraxial focus, F-number.

    A ``lumivex.Prescription`` in place of the System brings its aperture,
    its stop (every ray aimed through it), its fields (``field`` picks one
    by index), its primary wavelength (``wavelength`` in micrometres) and its
    image plane, and its clear apertures and stop vignette; the BFL is
    measured from its last lens surface.

    From two rays 1e-3 of the pupil radius either side of the axis; these
    are properties of the axis, so ``field_angle`` is checked but does not
    change them.

    Parameters
    ----------
    system : System
    wavelength : float
        Vacuum wavelength in the system's unit.
    field_angle : float
        Degrees, within ±90.
    pupil_radius : float, optional
        Entrance pupil radius for the F-number; by default the first
        element's radius.

    Returns
    -------
    Paraxial

    Raises
    ------
    ValueError
        For a bad argument; the message names it.
    lumivex.Error
        When a near-axis ray fails or the system has no optical power.

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> p = la.paraxial(s, wavelength=5.876e-4)
    >>> round(p.bfl, 2), round(p.f_number, 2)
    (47.54, 4.1)
    """
    if _lens(system):
        wavelength, pupil_radius, _ = _lens_common(system, wavelength, pupil_radius, 0)
        return _core.lens_paraxial(system, wavelength, pupil_radius)
    system, wavelength, pupil_radius, _ = _common(system, wavelength, pupil_radius, 0)
    _angle(field_angle)
    return _core.paraxial(system, wavelength, pupil_radius)


def spots(system, *, wavelength=None, field_angles=None, fields=None, rays=None, pattern="hexapolar",
          pupil_radius=None, image_z=None, seed=0, threads=0):
    """Spot diagrams at several field angles, all in one image plane.

    A ``lumivex.Prescription`` in place of the System brings its aperture,
    its stop (every ray aimed through it), its fields (``field`` picks one
    by index), its primary wavelength (``wavelength`` in micrometres) and its
    image plane, and its clear apertures and stop vignette; the BFL is
    measured from its last lens surface.
    For a Prescription ``fields`` (indices) picks its fields, all by default,
    and without a ``wavelength`` every one of its wavelengths sends its rays:
    a polychromatic spot, each ray weighted by its wavelength's weight in
    the centroid and the RMS, about the primary's chief ray, with the
    primary's Airy radius (``wave`` gives each point's wavelength).

    Parameters
    ----------
    system : System
    wavelength : float
    field_angles : sequence of float
        Degrees, each within ±90.
    rays : int, optional
        The size of the pupil pattern, in the pattern's own terms:

        ============  =========================================  =======
        pattern       rays                                       default
        ============  =========================================  =======
        "hexapolar"   rings; 1 + 3 rays (rays + 1) rays in all     6 (127)
        "grid"        rays across; those on the disk are traced   13 (~137)
        "random"      the number of rays                          127
        ============  =========================================  =======
    pattern : {"hexapolar", "grid", "random"}
    pupil_radius : float, optional
        Entrance pupil radius; by default the first element's radius.
    image_z : float, optional
        The image plane; by default the real paraxial focus of the axis.
    seed : int
        Seed of the "random" pattern (the same points on every platform).
    threads : int
        Worker threads; 0 uses every core.

    Returns
    -------
    list of Spot

    Raises
    ------
    ValueError
        For a bad argument; the message names it.
    lumivex.Error
        When the chief ray fails or there is no real paraxial focus and no
        ``image_z``.

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> [round(d.rms_radius, 4) for d in la.spots(s, wavelength=5.876e-4, field_angles=[0, 3])]
    [0.0881, 0.1051]
    """
    if _lens(system):
        wavelength, pupil_radius, threads = _lens_common(system, wavelength, pupil_radius, threads)
        if field_angles is not None:
            raise ValueError("field_angles is for a System; a Prescription takes fields (indices)")
        if fields is None:
            fields = range(len(system.fields))
        if isinstance(fields, numbers.Real):
            raise ValueError("fields must be a sequence of field indices (use spot for one)")
        fields = [_field(system, k) for k in fields]
        pattern, rays, seed = _pattern(pattern, rays, seed)
        image_z = _optional(image_z, _real, "image_z")
        return _core.lens_spots(system, fields, pattern, rays, seed, pupil_radius, image_z, wavelength, threads)
    if fields is not None:
        raise ValueError("fields is for a Prescription; a System takes field_angles (degrees)")
    if field_angles is None:
        field_angles = (0.0,)
    system, wavelength, pupil_radius, threads = _common(system, wavelength, pupil_radius, threads)
    if isinstance(field_angles, numbers.Real):
        raise ValueError("field_angles must be a sequence of angles (use spot for one)")
    angles = [_angle(a, "field_angles") for a in field_angles]
    if not angles:
        raise ValueError("field_angles must hold at least one angle")
    pattern, rays, seed = _pattern(pattern, rays, seed)
    image_z = _optional(image_z, _real, "image_z")
    return _core.spots(system, wavelength, [a * _RADIANS for a in angles], pattern, rays, seed,
                       pupil_radius, image_z, threads)


def spot(system, *, wavelength=None, field_angle=0.0, field=0, rays=None, pattern="hexapolar",
         pupil_radius=None, image_z=None, seed=0, threads=0):
    """The spot diagram at one field angle.

    Parameters
    ----------
    field_angle : float
        Degrees, within ±90.
    system, wavelength, rays, pattern, pupil_radius, image_z, seed, threads
        As in `spots`.

    Returns
    -------
    Spot

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> d = la.spot(s, wavelength=5.876e-4, pattern="random", rays=500, seed=3)
    >>> d.points.shape, d.rms_radius > d.airy_radius
    ((500, 2), True)
    """
    if _lens(system):
        return spots(system, wavelength=wavelength, fields=[field], rays=rays, pattern=pattern,
                     pupil_radius=pupil_radius, image_z=image_z, seed=seed, threads=threads)[0]
    return spots(system, wavelength=wavelength, field_angles=[_angle(field_angle)], rays=rays, pattern=pattern,
                 pupil_radius=pupil_radius, image_z=image_z, seed=seed, threads=threads)[0]


def through_focus(system, *, wavelength=None, field_angle=0.0, field=0, z_range=None, steps=21, rays=None,
                  pattern="hexapolar", pupil_radius=None, seed=0, threads=0):
    """The RMS spot radius in planes about the focus, and the best plane.

    Parameters
    ----------
    z_range : (float, float), optional
        The first and last plane, both behind the last element. By default
        the paraxial image ± the larger of 4 N times the geometric spot
        radius there and 4 λ N² (N the F-number), as ``lumivex spot
        --through-focus``.
    steps : int
        Planes from the first to the last, at least 2.
    system, wavelength, field_angle, rays, pattern, pupil_radius, seed, threads
        As in `spot`.

    Returns
    -------
    ThroughFocus
        Unpacks as ``z, rms``; ``best_z`` and ``best_rms`` the plane of
        least RMS radius.

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> z, rms = curve = la.through_focus(s, wavelength=5.876e-4)
    >>> bool(curve.best_rms <= rms.min()), bool(curve.best_z < la.paraxial(s, wavelength=5.876e-4).focus_z)
    (True, True)
    """
    if _lens(system):
        wavelength, pupil_radius, threads = _lens_common(system, wavelength, pupil_radius, threads)
        field = _field(system, field)
        steps = _integer(steps, "steps", 2)
        pattern, rays, seed = _pattern(pattern, rays, seed)
        z_from, z_to = _z_range(z_range)
        return _core.lens_through_focus(system, field, pattern, rays, seed, pupil_radius, z_from, z_to, steps,
                                        wavelength, threads)
    system, wavelength, pupil_radius, threads = _common(system, wavelength, pupil_radius, threads)
    field_angle = _angle(field_angle)
    steps = _integer(steps, "steps", 2)
    pattern, rays, seed = _pattern(pattern, rays, seed)
    z_from, z_to = _z_range(z_range)
    if z_range is not None:
        last = system[len(system) - 1].z
        if min(z_from, z_to) < last:
            raise ValueError(f"z_range must lie behind the last element at z = {last:g}")
    return _core.through_focus(system, wavelength, field_angle * _RADIANS, pattern, rays, seed, pupil_radius,
                               z_from, z_to, steps, threads)


def _fan(core, system, wavelength, field_angle, rays, pupil_radius, image_z, threads, field=0):
    if _lens(system):
        wavelength, pupil_radius, threads = _lens_common(system, wavelength, pupil_radius, threads)
        lens_core = _core.lens_ray_fan if core is _core.ray_fan else _core.lens_opd_fan
        return lens_core(system, _field(system, field), _integer(rays, "rays", 2), pupil_radius,
                         _optional(image_z, _real, "image_z"), wavelength, threads)
    system, wavelength, pupil_radius, threads = _common(system, wavelength, pupil_radius, threads)
    field_angle = _angle(field_angle)
    rays = _integer(rays, "rays", 2)
    image_z = _optional(image_z, _real, "image_z")
    return core(system, wavelength, field_angle * _RADIANS, rays, pupil_radius, image_z, threads)


def ray_fan(system, *, wavelength=None, field_angle=0.0, field=0, rays=21, pupil_radius=None, image_z=None,
            threads=0):
    """Transverse ray errors of a tangential and a sagittal fan.

    A ``lumivex.Prescription`` in place of the System brings its aperture,
    its stop (every ray aimed through it), its fields (``field`` picks one
    by index), its primary wavelength (``wavelength`` in micrometres) and its
    image plane, and its clear apertures and stop vignette; the BFL is
    measured from its last lens surface.
    Its fans run along the field's direction in the pupil and across it.

    Parameters
    ----------
    system : System
    wavelength : float
    field_angle : float
        Degrees, within ±90.
    rays : int
        Rays across the pupil in each fan, at least 2.
    pupil_radius, image_z, threads
        As in `spot`.

    Returns
    -------
    RayFan
        Unpacks as ``rho, tangential, sagittal``.

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> rho, ey, ex = la.ray_fan(s, wavelength=5.876e-4, rays=5)
    >>> rho.tolist()
    [-1.0, -0.5, 0.0, 0.5, 1.0]
    """
    return _fan(_core.ray_fan, system, wavelength, field_angle, rays, pupil_radius, image_z, threads, field)


def opd_fan(system, *, wavelength=None, field_angle=0.0, field=0, rays=21, pupil_radius=None, image_z=None,
            threads=0):
    """Optical path difference, in waves, along a tangential and a sagittal fan.

    Parameters are those of `ray_fan`; the rays are the same.

    Returns
    -------
    OpdFan
        Unpacks as ``rho, tangential, sagittal`` (waves).

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> rho, wt, ws = la.opd_fan(s, wavelength=5.876e-4, rays=3)
    >>> float(wt[1])
    0.0
    """
    return _fan(_core.opd_fan, system, wavelength, field_angle, rays, pupil_radius, image_z, threads, field)


# -- diffraction ------------------------------------------------------------------

def _samples(samples, fft_size):
    samples = _integer(samples, "samples", 2)
    if samples > 1024:
        raise ValueError(f"samples must be at most 1024, not {samples!r}")
    fft_size = 0 if fft_size is None else _integer(fft_size, "fft_size", 2 * samples)
    return samples, fft_size


def wavefront(system, *, wavelength=None, field_angle=None, field=0, samples=64, pupil_radius=None, image_z=None,
              threads=0):
    """The wavefront over a square grid of the entrance pupil, and its Zernike fit.

    A ``lumivex.Prescription`` in place of the System brings its aperture,
    stop, clear apertures, image plane and fields (``field`` picks one by
    index); ``wavelength`` is then in micrometres, by default its primary.
    Its grid spans the entrance pupil with the points aimed at the
    normalised pupil, and the reference sphere passes through the chief
    ray's crossing of the exit pupil plane, as its `opd_fan`'s.

    The OPD is that of `opd_fan`: W = OPL(chief) - OPL(ray) in waves on the
    sphere centred on the chief ray's image point, through the chief ray's
    last node. The grid's points lie at ((i + 1/2 - n/2) h, (j + 1/2 - n/2) h),
    h = 2 r / n, row j (y) after row; points off the pupil disk and points
    whose ray fails are outside the pupil.

    Parameters
    ----------
    system : System
    wavelength : float
    field_angle : float
        Degrees, within ±90.
    samples : int
        n, the grid's points across the pupil's diameter, 2 to 1024.
    pupil_radius, image_z, threads
        As in `spot`.

    Returns
    -------
    Wavefront
        ``opd`` (n, n) in waves, NaN outside the pupil; ``amplitude`` (n, n),
        the square root of each ray's transmitted power fraction, 0 outside;
        ``rms`` and ``pv`` in waves over the pupil about the plane fitted by
        least squares (piston and tilt removed), ``rms_to_chief`` about the
        mean (tilt kept);
        ``zernike``, the Fringe coefficients Z1 ... Z37 in waves fitted at
        rho = (x, y) / r (Z4 = 2 rho^2 - 1, Z9 = 6 rho^4 - 6 rho^2 + 1, ...,
        not normalized).

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    >>> w = la.wavefront(s, wavelength=5e-4, samples=32)
    >>> w.opd.shape, w.rms < 1e-6
    ((32, 32), True)
    """
    if _lens(system):
        wavelength, pupil_radius, threads = _lens_common(system, wavelength, pupil_radius, threads)
        _no_angle(field_angle)
        samples, _ = _samples(samples, None)
        image_z = _optional(image_z, _real, "image_z")
        return _core.lens_wavefront(system, _field(system, field), pupil_radius, image_z, wavelength, samples,
                                    threads)
    system, wavelength, pupil_radius, threads = _common(system, wavelength, pupil_radius, threads)
    field_angle = _angle(0.0 if field_angle is None else field_angle)
    samples, _ = _samples(samples, None)
    image_z = _optional(image_z, _real, "image_z")
    return _core.wavefront(system, wavelength, field_angle * _RADIANS, pupil_radius, image_z, samples, threads)


def _no_angle(field_angle):
    if field_angle is not None:
        raise ValueError("field_angle is for a System; a Prescription takes field (an index)")


def _spectrum(wavelength):
    """A prescription's PSF wavelengths: None for its own; a number in
    micrometres; or a sequence of numbers or of (micrometres, weight) pairs,
    the first the reference."""
    if wavelength is None:
        return []
    if isinstance(wavelength, numbers.Real):
        return [(_positive(wavelength, "wavelength"), 1.0)]
    try:
        items = list(wavelength)
    except TypeError:
        raise ValueError(f"wavelength must be micrometres or a sequence of them, not {wavelength!r}") from None
    if not items:
        raise ValueError("wavelength must hold at least one wavelength")
    spectrum = []
    for item in items:
        if isinstance(item, numbers.Real):
            spectrum.append((_positive(item, "wavelength"), 1.0))
            continue
        try:
            um, weight = item
        except (TypeError, ValueError):
            raise ValueError(f"each wavelength must be micrometres or a (micrometres, weight) pair, "
                             f"not {item!r}") from None
        weight = _real(weight, "weight")
        if weight < 0.0:
            raise ValueError(f"weight must not be negative, not {weight!r}")
        spectrum.append((_positive(um, "wavelength"), weight))
    return spectrum


def psf(system, *, wavelength=None, field_angle=None, field=0, samples=64, fft_size=None, pupil_radius=None,
        image_z=None, threads=0):
    """The point spread function by FFT of the pupil function, and its Strehl ratio.

    A ``lumivex.Prescription`` in place of the System brings its aperture,
    stop, clear apertures, image plane and fields (``field`` picks one by
    index), and by default its wavelengths with their weights: the
    polychromatic PSF, the weighted sum of each wavelength's PSF on the
    primary wavelength's grid (each wavelength sampled at the pupil pitch
    that puts it there). ``wavelength`` in micrometres picks one, or a
    sequence of micrometres or (micrometres, weight) pairs several, the
    first the reference. The pitch follows the working F-number,
    dx = lambda F# n / M.

    The pupil function of each grid point (as in `wavefront`) is
    ``amplitude * exp(2 pi i opd)``; zero-padded to ``fft_size`` M and
    transformed, it gives the field in the image plane at the pitch
    dx = lambda F# n / M (F# the paraxial F-number), in a window M dx wide
    centred on the chief ray's image point.

    Parameters
    ----------
    samples : int
        n, across the pupil, 2 to 1024.
    fft_size : int, optional
        M, at least 2 n; by default 4 n (dx = lambda F# / 4).
    system, wavelength, field_angle, pupil_radius, image_z, threads
        As in `wavefront`.

    Returns
    -------
    Psf
        ``image`` (M, M), row j (y) after row, sample (i, j) at
        ``centre + ((i - M/2) dx, (j - M/2) dx)``, summing to ``power``, the
        transmitted power fraction of the pupil; ``dx`` in length units;
        ``strehl``, the peak over the peak of the same pupil without
        aberration on the same grid.

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    >>> p = la.psf(s, wavelength=5e-4, samples=32)
    >>> p.image.shape, round(p.strehl, 3), round(float(p.image.sum()), 3)
    ((128, 128), 1.0, 0.922)
    """
    if _lens(system):
        spectrum = _spectrum(wavelength)
        _, pupil_radius, threads = _lens_common(system, None, pupil_radius, threads)
        _no_angle(field_angle)
        samples, fft_size = _samples(samples, fft_size)
        image_z = _optional(image_z, _real, "image_z")
        return _core.lens_psf(system, _field(system, field), pupil_radius, image_z, spectrum, samples, fft_size,
                              threads)
    system, wavelength, pupil_radius, threads = _common(system, wavelength, pupil_radius, threads)
    field_angle = _angle(0.0 if field_angle is None else field_angle)
    samples, fft_size = _samples(samples, fft_size)
    image_z = _optional(image_z, _real, "image_z")
    return _core.psf(system, wavelength, field_angle * _RADIANS, pupil_radius, image_z, samples, fft_size,
                     threads)


def mtf(system, **arguments):
    """The modulation transfer function, tangential and sagittal.

    The modulus of the optical transfer function (the PSF's Fourier
    transform, 1 at zero frequency): tangential along x, the field's
    direction, sagittal along y; from the transforms of the PSF's line
    spread functions, which reach the cutoff 1/(lambda F#) unaliased since
    M >= 2 n.

    Parameters
    ----------
    system : System, Prescription or Psf
        A Psf gives its own MTF; a System or a Prescription takes the
        arguments of `psf` (a Prescription's wavelengths by default all of
        its own, with their weights).
    **arguments
        Those of `psf`.

    Returns
    -------
    Mtf
        ``frequency`` in cycles per length unit, from 0 to ``cutoff`` in
        steps of 1/(M dx); ``tangential``, ``sagittal``;
        ``diffraction_limit``, 2/pi (acos nu - nu sqrt(1 - nu^2)) with
        nu = frequency lambda F#, weighted over the wavelengths.

    Examples
    --------
    >>> import numpy as np, lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    >>> m = la.mtf(s, wavelength=5e-4)
    >>> round(m.cutoff, 1), bool(np.abs(m.tangential - m.diffraction_limit).max() < 0.005)
    (480.0, True)
    """
    if isinstance(system, Psf):
        if arguments:
            raise ValueError("mtf of a Psf takes no other argument")
        return _core.mtf(system)
    return _core.mtf(psf(system, **arguments))


def _sizes(values, name):
    a = np.atleast_1d(np.asarray(values, dtype=float))
    if a.ndim != 1 or not np.all(np.isfinite(a)) or np.any(a < 0):
        raise ValueError(f"{name} must be finite lengths of at least 0")
    return a


def encircled_energy(psf, radii):
    """The fraction of a PSF's energy within circles about its centroid.

    Each sample's energy is spread evenly over its dx by dx cell.

    Parameters
    ----------
    psf : Psf
    radii : array_like
        Radii in length units.

    Returns
    -------
    ndarray
        One fraction per radius, of the PSF's whole energy.

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    >>> p = la.psf(s, wavelength=5e-4)
    >>> airy = 1.22 * 5e-4 * p.f_numbers[0]
    >>> round(float(la.encircled_energy(p, [airy])[0]), 2)
    0.84
    """
    if not isinstance(psf, Psf):
        raise ValueError("psf must be a lumivex.analysis.Psf")
    radii = _sizes(radii, "radii")
    return np.array(_core.encircled_energy(psf, radii.tolist()))


def ensquared_energy(psf, half_widths):
    """The fraction of a PSF's energy within squares about its centroid.

    Parameters
    ----------
    psf : Psf
    half_widths : array_like
        Half the side of each square, in length units.

    Returns
    -------
    ndarray

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    >>> p = la.psf(s, wavelength=5e-4)
    >>> round(float(la.ensquared_energy(p, [1.0])[0]), 9)
    1.0
    """
    if not isinstance(psf, Psf):
        raise ValueError("psf must be a lumivex.analysis.Psf")
    return np.array(_core.ensquared_energy(psf, _sizes(half_widths, "half_widths").tolist()))


# -- colour and field curves of a prescription ----------------------------------

def _prescription(lens, what):
    if not _lens(lens):
        raise ValueError(f"{what} needs a lumivex.Prescription (its fields and wavelengths)")
    lens.validate()
    return lens


def chromatic_focal_shift(lens, *, samples=21, wavelengths=None):
    """The paraxial focus against the wavelength.

    Parameters
    ----------
    lens : Prescription
    samples : int
        Wavelengths, at least 2, evenly from the prescription's shortest to
        its longest.
    wavelengths : (float, float), optional
        The range in micrometres instead.

    Returns
    -------
    FocalShift
        ``wavelengths``, ``focus_z`` and ``shift`` (the focus less the
        primary wavelength's), ``range``.

    Examples
    --------
    A thin N-BK7 singlet of focal length 100 moves its focus by f/V, about
    1.56, from the F line to the C line:

    >>> import lumivex, lumivex.analysis as la
    >>> p = lumivex.Prescription()
    >>> p.add_standard(0.0, 103.36, "N-BK7"), p.add_standard(0.5, -103.36)
    (0, 1)
    >>> p.set_aperture("entrance pupil diameter", 10.0)
    >>> p.fields = [(0.0, 0.0), (5.0, 0.0)]
    >>> p.wavelengths = [(0.4861327, 1.0), (0.5875618, 1.0), (0.6562725, 1.0)]
    >>> p.primary = 1
    >>> s = la.chromatic_focal_shift(p, samples=3)
    >>> round(float(s.shift[-1] - s.shift[0]), 3)
    1.549
    """
    lens = _prescription(lens, "chromatic_focal_shift")
    samples = _integer(samples, "samples", 2)
    lo = hi = None
    if wavelengths is not None:
        try:
            lo, hi = wavelengths
        except (TypeError, ValueError):
            raise ValueError(f"wavelengths must be (shortest, longest) in micrometres, not {wavelengths!r}") from None
        lo, hi = _positive(lo, "wavelengths"), _positive(hi, "wavelengths")
    return _core.focal_shift(lens, samples, lo, hi)


def lateral_colour(lens, *, samples=11, threads=0):
    """The chief ray's height at the longest wavelength less at the shortest, against the field.

    In the prescription's image plane, along the direction of its largest
    field, for ``samples`` fields from the axis to the largest.

    Returns
    -------
    LateralColour
    """
    lens = _prescription(lens, "lateral_colour")
    return _core.lateral_colour(lens, _integer(samples, "samples", 2), _integer(threads, "threads", 0))


def field_curvature(lens, *, samples=21, wavelength=None, threads=0):
    """The tangential and sagittal foci against the field.

    Where two real rays close by the chief ray (1e-3 of the normalised
    pupil either side, along the field's direction and across it) cross,
    along z from the image plane; with the distortion of the same chief
    rays.

    Parameters
    ----------
    lens : Prescription
    samples : int
        Fields from the axis to the largest, along its direction.
    wavelength : float, optional
        Micrometres; the primary by default.

    Returns
    -------
    FieldCurves
        ``field``, ``tangential``, ``sagittal``, ``distortion`` (per cent).
    """
    lens = _prescription(lens, "field_curvature")
    wavelength = _optional(wavelength, _positive, "wavelength")
    return _core.field_curves(lens, _integer(samples, "samples", 2), wavelength, _integer(threads, "threads", 0))


def distortion(lens, *, samples=21, wavelength=None, threads=0):
    """The distortion against the field, in per cent of the paraxial height.

    100 (h - h') / h', h the chief ray's height in the image plane and h'
    the paraxial height there, scaled from a chief ray very near the axis
    (in tan theta for angles, in the height for object heights). The same
    FieldCurves as `field_curvature`.
    """
    return field_curvature(_prescription(lens, "distortion"), samples=samples, wavelength=wavelength,
                           threads=threads)


def _lens_fibre_coupling(lens, *, mode_radius, receiver_radius=None, field=0, offset=(0.0, 0.0), wavelength=None,
                   samples=64, threads=0):
    """The power a single-mode fibre couples into another through a prescription.

    The source fibre sits at the object point of ``field`` (the prescription
    needs a finite object), the receiver in the image plane, centred
    ``offset`` (x, y) from the chief ray's point. Both modes are Gaussian,
    E ~ exp(-r^2 / w^2) at their waists, w the mode field radius in lens
    units, their axes along z.

    The efficiency is the overlap over the pupil of the source's far field,
    carried ray by ray through the system (its stop and clear apertures cut
    it), with the receiver's far field, a spherical wave about its centre.
    ``image_plane_efficiency`` is the second route, the mode's field
    carried as a fan of beams to the image plane and overlapped there; it
    holds where the system images the source's waist onto the receiver.

    Parameters
    ----------
    lens : Prescription
    mode_radius : float
        The source's mode field radius.
    receiver_radius : float, optional
        The receiver's; by default the source's.
    field : int
    offset : (float, float)
    wavelength : float, optional
        Micrometres; the primary by default.
    samples : int
        Grid points across the source's far field, 8 to 1024.

    Returns
    -------
    FibreCoupling
    """
    lens = _prescription(lens, "fibre_coupling")
    mode_radius = _positive(mode_radius, "mode_radius")
    receiver_radius = mode_radius if receiver_radius is None else _positive(receiver_radius, "receiver_radius")
    try:
        dx, dy = offset
    except (TypeError, ValueError):
        raise ValueError(f"offset must be (x, y), not {offset!r}") from None
    samples = _integer(samples, "samples", 8)
    if samples > 1024:
        raise ValueError(f"samples must be at most 1024, not {samples!r}")
    return _core.fibre_coupling(lens, _field(lens, field), mode_radius, receiver_radius, _real(dx, "offset"),
                                _real(dy, "offset"), _optional(wavelength, _positive, "wavelength"), samples,
                                _integer(threads, "threads", 0))


# -- ray sets and positions -----------------------------------------------------

def _radius(r):
    r = _real(r, "r")
    if r < 0.0:
        raise ValueError(f"r must not be negative, not {r!r}")
    return r


def hexapolar(r, rings):
    """The centre and ``rings`` rings of a disk of radius r.

    Ring k lies at radius r k / rings and holds 6 k points from the +x axis
    on: 1 + 3 rings (rings + 1) points.

    Returns
    -------
    ndarray, shape (M, 2)

    Examples
    --------
    >>> import lumivex.analysis as la
    >>> la.hexapolar(1.0, 2).shape
    (19, 2)
    """
    return _core.pupil("hexapolar", _radius(r), _integer(rings, "rings", 0), 0)


def square_grid(r, n):
    """The points of an n × n grid over [-r, r]² that lie on the disk of radius r.

    Returns
    -------
    ndarray, shape (M, 2)

    Examples
    --------
    >>> import lumivex.analysis as la
    >>> la.square_grid(1.0, 3).tolist()
    [[0.0, -1.0], [-1.0, 0.0], [0.0, 0.0], [1.0, 0.0], [0.0, 1.0]]
    """
    return _core.pupil("grid", _radius(r), _integer(n, "n", 1), 0)


def random_pupil(r, n, seed=0):
    """n points spread uniformly over the disk of radius r at random.

    The same points for the same seed on every platform.

    Returns
    -------
    ndarray, shape (n, 2)

    Examples
    --------
    >>> import numpy as np, lumivex.analysis as la
    >>> bool(np.all(np.hypot(*la.random_pupil(2.0, 100, seed=1).T) <= 2.0))
    True
    """
    seed = _integer(seed, "seed", 0)
    if seed >= 2**64:
        raise ValueError(f"seed must be below 2**64, not {seed!r}")
    return _core.pupil("random", _radius(r), _integer(n, "n", 0), seed)


def meridional_fan(r, n):
    """n points from (-r, 0) to (r, 0) evenly spaced; the one point of n = 1 on the axis.

    Returns
    -------
    ndarray, shape (n, 2)

    Examples
    --------
    >>> import lumivex.analysis as la
    >>> la.meridional_fan(2.0, 3)[:, 0].tolist()
    [-2.0, 0.0, 2.0]
    """
    return _core.pupil("fan", _radius(r), _integer(n, "n", 0), 0)


def collimated_rays(system, points, *, field_angle=0.0):
    """The start rays of the analyses' collimated beam through pupil points.

    Parameters
    ----------
    system : System
    points : array_like, shape (M, 2)
        Entrance-pupil points: where the rays cross the first element's
        vertex plane (for a beam at a field angle, relative to where the
        beam's centre crosses it, which is the axis).
    field_angle : float
        Degrees, within ±90.

    Returns
    -------
    positions, directions, polarizations : ndarray, shape (M, 3)
        For ``System.trace``: the rays start in front of the first element,
        the field in the x-z plane.

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> p, k, e = la.collimated_rays(s, la.hexapolar(6.0, 3))
    >>> r = s.trace(p, k, wavelength=5.876e-4, polarizations=e)
    >>> bool(r.ok.all())
    True
    """
    system = _system(system)
    field_angle = _angle(field_angle)
    a = np.asarray(points, dtype=float)
    if a.ndim != 2 or a.shape[1] != 2:
        raise ValueError(f"points must have shape (M, 2), not {a.shape}")
    if not np.all(np.isfinite(a)):
        raise ValueError("points contain a value that is not finite")
    return _core.collimated_rays(system, np.ascontiguousarray(a), field_angle * _RADIANS)


def position_at_z(rays, z):
    """Where traced rays cross the plane z.

    Parameters
    ----------
    rays : TraceResult, Beam or (positions, directions)
        A TraceResult traced with ``keep_nodes=True`` and a Beam are followed
        along their recorded nodes: the point on the segment that crosses
        the plane, or on the straight continuation of the first or last
        segment. Otherwise each ray is its last node (or the given position
        and direction, (N, 3) each) continued in a straight line. Rays
        parallel to the plane stay where they are; failed rays of a
        TraceResult give NaN.
    z : float

    Returns
    -------
    ndarray, shape (N, 3), or (3,) for a Beam

    Examples
    --------
    >>> import lumivex.analysis as la
    >>> la.position_at_z(([[1.0, 0, 0]], [[0.6, 0, 0.8]]), 4.0).tolist()
    [[4.0, 0.0, 4.0]]
    """
    z = _real(z, "z")
    if isinstance(rays, _Beam):
        if len(rays) == 0:
            raise ValueError("rays is a beam without nodes")
        return _core.beam_at_z(rays, z)
    if hasattr(rays, "ok") and hasattr(rays, "position"):
        if rays.nodes_kept:
            out = np.array([_core.beam_at_z(rays.beam(i), z) if ok else np.full(3, np.nan)
                            for i, ok in enumerate(rays.ok)]).reshape(-1, 3)
        else:
            out = _core.lines_at_z(np.ascontiguousarray(rays.position), np.ascontiguousarray(rays.direction), z)
            out[~np.asarray(rays.ok)] = np.nan
        return out
    try:
        positions, directions = rays
    except (TypeError, ValueError):
        raise ValueError("rays must be a TraceResult, a Beam or a pair (positions, directions)") from None
    p = np.ascontiguousarray(positions, dtype=float)
    k = np.ascontiguousarray(directions, dtype=float)
    if p.ndim != 2 or p.shape[1] != 3:
        raise ValueError(f"positions must have shape (N, 3), not {p.shape}")
    if k.shape != p.shape:
        raise ValueError(f"directions must have the shape of positions {p.shape}, not {k.shape}")
    return _core.lines_at_z(p, k, z)


def layout(system, traced=None, *, wavelength=None, field_angle=0.0, rays=None, end_z=None, threads=0):
    """The picture of the system and its rays in the x-z section, as geometry.

    What ``lumivex draw`` draws: faces drawn to their traced radius, the
    glass or gradient-index medium between neighbouring faces closed into
    shaded pieces, rays through their nodes continued to ``end_z``, the
    paraxial focus. ``lumivex.plot.layout`` draws it with matplotlib.

    A ``lumivex.Prescription`` in place of the System is drawn as its
    designer defines it: each lens a closed shape to its faces' drawing (else
    clear) semi-diameters, stepping out flat where they differ; the
    surfaces numbered; the aperture stop marked; ``rays`` rays per field
    across the pupil (by default 3: its top, the chief ray and its bottom),
    aimed and clipped as the prescription aims and clips them and coloured
    by field; the image plane. ``wavelength`` is then in micrometres
    (default its primary); ``traced``, ``field_angle`` and ``end_z`` are
    for a System.

    Parameters
    ----------
    system : System or Prescription
    traced : TraceResult or sequence of Beam, optional
        Rays to lay out; a TraceResult must come from ``keep_nodes=True``.
        By default the fan of ``lumivex draw``: ``rays`` parallel rays at
        ``field_angle`` across 80 % of the first element's radius, traced
        on a fresh copy of the system.
    wavelength, field_angle, rays, threads
        The default fan's (degrees for the angle): by default 11 rays at a
        wavelength of 5.5e-4.
    end_z : float, optional
        Where rays that went through end; by default a little beyond the
        last element, or beyond the focus when it is not too far behind it.

    Returns
    -------
    Layout

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System.from_text("OpticalSystem 6\\nSlab 0 1\\nLens 5 1.5 1 50 0\\n")
    >>> g = la.layout(s)
    >>> len(g.rays), [p.medium for p in g.pieces], g.markers[0].label
    (11, ['glass'], 'F′')
    """
    if _lens(system):
        if traced is not None or end_z is not None or field_angle != 0.0:
            raise ValueError("traced, field_angle and end_z are for a System; a Prescription brings its "
                             "fields and image plane")
        system.validate()
        return _core.layout_prescription(system, 3 if rays is None else _integer(rays, "rays", 1),
                                         _optional(wavelength, _positive, "wavelength"),
                                         _integer(threads, "threads", 0))
    system = _system(system)
    wavelength = 5.5e-4 if wavelength is None else wavelength
    rays = 11 if rays is None else rays
    end_z = _optional(end_z, _real, "end_z")
    if traced is None:
        return _core.layout_fan(system, _positive(wavelength, "wavelength"), _angle(field_angle) * _RADIANS,
                                _integer(rays, "rays", 1), end_z, _integer(threads, "threads", 0))
    if hasattr(traced, "beams"):
        if not traced.nodes_kept:
            raise ValueError("traced must come from System.trace(..., keep_nodes=True)")
        beams = traced.beams()
        failures = [traced.message(i) for i in range(len(beams))]
    else:
        beams = list(traced)
        if not all(isinstance(b, _Beam) for b in beams):
            raise ValueError("traced must be a TraceResult or a sequence of Beam")
        # A beam that ends without a direction stopped where it failed.
        failures = ["" if len(b.nodes) == 0 or np.any(b.nodes[-1]["direction"]) else "failed" for b in beams]
    return _core.layout_traced(system, beams, failures, end_z)


# -- irradiance ----------------------------------------------------------------

class Irradiance(_Result):
    """An irradiance map: the power the rays bring to each bin of a grid.

    The sums behind it are exact integers (each ray's intensity rounded to
    2^-60 of the largest start intensity), so the same rays give the same
    bits however they were split into chunks, threads or Dask workers.

    Attributes
    ----------
    image : ndarray, shape (ny, nx)
        Power per bin; row 0 at the lower y bound, column 0 at the lower x
        bound (``imshow(image, origin="lower", extent=extent)``). A beam made
        here carries unit power in all, shared equally by its rays; rays
        given as arrays carry their intensities.
    extent : tuple of float
        (xmin, xmax, ymin, ymax) of the grid.
    z : float
        The detector plane.
    rays : int
        Rays traced, failed or not.
    failed : int
        Rays that did not go through.
    on_grid : int
        Rays that crossed the plane inside the grid.
    power : float
        The power on the grid (the sum of ``image``).
    power_through : float
        The power of every ray that went through, on the grid or not.
    centroid : ndarray, shape (2,)
        Of the points where the rays that went through cross the plane
        (unweighted, as ``Spot``'s), absolute.
    rms_radius : float
        About that centroid.
    field_angle : float
        Degrees; NaN for rays given as arrays.
    wavelength, seed
    """

    __slots__ = ("image", "extent", "z", "rays", "failed", "on_grid", "power", "power_through", "centroid",
                 "rms_radius", "field_angle", "wavelength", "seed")

    def __init__(self, core_map, field_angle, wavelength, seed):
        self._set(image=core_map.image, extent=tuple(core_map.extent), z=core_map.z, rays=core_map.rays,
                  failed=core_map.failed, on_grid=core_map.on_grid, power=core_map.power,
                  power_through=core_map.power_through, centroid=core_map.centroid,
                  rms_radius=core_map.rms_radius, field_angle=field_angle, wavelength=wavelength, seed=seed)

    def __repr__(self):
        ny, nx = self.image.shape
        return (f"Irradiance({nx}x{ny} bins at z={self.z:.6g}, {self.rays} rays, {self.failed} failed, "
                f"power={self.power:.6g})")


_EXTENT_RAYS = 4096  # the rays a default extent is taken from


def _bins(bins):
    if isinstance(bins, numbers.Integral) and not isinstance(bins, bool):
        nx = ny = _integer(bins, "bins", 1)
    else:
        try:
            nx, ny = bins
        except (TypeError, ValueError):
            raise ValueError(f"bins must be an integer or a pair (nx, ny), not {bins!r}") from None
        nx, ny = _integer(nx, "bins", 1), _integer(ny, "bins", 1)
    if nx * ny > 1 << 26:
        raise ValueError(f"bins must make at most 2**26 bins, not {nx} x {ny}")
    return nx, ny


def _extent(extent):
    if extent is None:
        return None
    try:
        values = [_real(v, "extent") for v in extent]
    except TypeError:
        raise ValueError(f"extent must be (xmin, xmax, ymin, ymax), not {extent!r}") from None
    if len(values) != 4 or not (values[0] < values[1] and values[2] < values[3]):
        raise ValueError(f"extent must be (xmin, xmax, ymin, ymax) with each min below its max, not {extent!r}")
    return tuple(values)


class _IrradianceJob:
    """What an irradiance needs, checked once: shared by the local and the
    distributed versions, so that both make the same rays and the same grid."""

    def __init__(self, system, rays, wavelength, z, bins, extent, field, seed, threads, positions, directions,
                 polarizations=None, intensities=None):
        self.lens = system if _lens(system) else None
        if self.lens is not None:
            # A prescription brings its wavelength (µm), image plane and fields.
            self.lens.validate()
            self.system = None
            self.wavelength = self.lens.primary_wavelength if wavelength is None else _positive(
                wavelength, "wavelength")
            self.z = self.lens.image_plane_z if z is None else _real(z, "z")
            if positions is not None or directions is not None:
                raise ValueError("positions and directions are for a System; a Prescription fills its pupil")
        else:
            if wavelength is None or z is None:
                raise ValueError("wavelength and z are required for a System (in its length unit); "
                                 "a Prescription brings its own")
            self.system = _system(system)
            self.wavelength = _positive(wavelength, "wavelength")
            self.z = _real(z, "z")
        self.nx, self.ny = _bins(bins)
        self.extent = _extent(extent)
        self.threads = _integer(threads, "threads", 0)
        self.seed = _integer(seed, "seed", 0)
        if self.seed >= 2**64:
            raise ValueError(f"seed must be below 2**64, not {seed!r}")
        self.arrays = positions is not None or directions is not None
        if self.arrays:
            if rays is not None:
                raise ValueError("pass either rays or positions and directions, not both")
            if positions is None or directions is None:
                raise ValueError("positions and directions go together")
            self.positions = np.ascontiguousarray(positions, dtype=float)
            self.directions = np.ascontiguousarray(directions, dtype=float)
            self.polarizations = polarizations
            self.intensities = None if intensities is None else np.ascontiguousarray(intensities, dtype=float)
            if self.positions.ndim != 2 or self.positions.shape[1] != 3:
                raise ValueError(f"positions must have shape (N, 3), not {self.positions.shape}")
            self.rays = len(self.positions)
            if self.rays == 0:
                raise ValueError("positions holds no ray")
            self.field_angle = math.nan
            self.max_intensity = 1.0
            if self.intensities is not None:
                if self.intensities.shape != (self.rays,):
                    raise ValueError(f"intensities must have shape ({self.rays},)")
                if not np.all(np.isfinite(self.intensities)) or np.any(self.intensities < 0):
                    raise ValueError("intensities must be finite and not negative")
                self.max_intensity = float(self.intensities.max()) or 1.0
        else:
            if rays is None:
                raise ValueError("rays (a count) or positions and directions are needed")
            self.rays = _integer(rays, "rays", 1)
            if self.lens is not None:
                self.field = _field(self.lens, 0 if field == 0 else field)
                x, y = self.lens.fields[self.field][:2]
                self.field_angle = math.hypot(x, y) if self.lens.field_type == "angle" else math.nan
            else:
                self.field_angle = _angle(field, "field")

    def trace_arrays(self, start, stop, threads):
        """The traced slice start:stop of the given rays: (nodes, failed)."""
        sl = slice(start, stop)
        pol = None if self.polarizations is None else np.asarray(self.polarizations, dtype=float)[sl]
        w = None if self.intensities is None else self.intensities[sl]
        r = self.system.trace(self.positions[sl], self.directions[sl], wavelength=self.wavelength,
                              polarizations=pol, intensities=w, threads=threads)
        return r.nodes, r.failed_element

    def resolve_extent(self):
        """The grid's bounds: as given, or around the first rays that go through."""
        if self.extent is None:
            if self.arrays:
                nodes, failed = self.trace_arrays(0, min(self.rays, _EXTENT_RAYS), self.threads)
                self.extent = tuple(_core.irradiance_extent_of(nodes, failed, self.z))
            elif self.lens is not None:
                self.extent = tuple(_core.irradiance_lens_extent(self.lens, self.field, self.wavelength, self.seed,
                                                                 self.z))
            else:
                self.extent = tuple(_core.irradiance_extent(self.system, self.wavelength,
                                                            self.field_angle * _RADIANS, self.seed, self.z))
        return self.extent

    def stream(self, first, count, threads):
        """Rays first ... first + count - 1 of the beam, as an exact partial map."""
        if self.lens is not None:
            return _core.irradiance_lens_stream(self.lens, self.field, self.wavelength, self.seed, first, count,
                                                self.rays, self.z, self.nx, self.ny, self.extent, threads)
        return _core.irradiance_stream(self.system, self.wavelength, self.field_angle * _RADIANS, self.seed,
                                       first, count, self.rays, self.z, self.nx, self.ny, self.extent, threads)

    def array_map(self, nodes, failed):
        return _core.irradiance_nodes(nodes, failed, self.z, self.nx, self.ny, self.extent, 1.0,
                                      self.max_intensity)

    def result(self, core_map):
        return Irradiance(core_map, self.field_angle, self.wavelength, self.seed)


def irradiance(system_or_prescription, *, rays=None, wavelength=None, z=None, bins, extent=None, field=0.0, seed=0,
               threads=0, positions=None, directions=None, polarizations=None, intensities=None):
    """The irradiance a collimated beam makes on a detector grid in the plane z.

    ``rays`` rays fill the entrance disk (the first element's radius) at
    the field angle, from a counter-based random stream: ray i's pupil point
    is drawn from Philox4x32-10 keyed by ``seed`` with i as the counter, so
    ray i is the same ray however the rays are split. They are made,
    traced and binned chunk by chunk on every core, so 10^8 rays take the
    memory of the grid, not of the rays. The beam carries unit power,
    shared equally by its rays.

    A ``lumivex.Prescription`` brings its own light: ``rays`` rays of the
    stream fill its entrance pupil at field ``field`` (an index into its
    fields), ray i through the normalised pupil point drawn as above, aimed
    as the prescription aims its rays and traced with its clear apertures
    and stop clipping; rays it cannot aim or vignettes count as failed.
    Each ray is aimed where it is traced, so the map is the same bits
    however it is chunked.

    Parameters
    ----------
    system_or_prescription : System or Prescription
    rays : int
        How many rays; or pass ``positions`` and ``directions`` instead (a
        System only).
    wavelength : float
        In the System's length unit (required); for a Prescription in
        micrometres, by default its primary wavelength.
    z : float
        The detector plane; rays are continued straight from their last
        node to it. Required for a System; a Prescription's image plane by
        default.
    bins : int or (int, int)
        nx = ny, or (nx, ny).
    extent : (xmin, xmax, ymin, ymax), optional
        By default the box of where the first 4096 rays that go through
        cross the plane, widened by 5 % on every side; rays outside the grid
        count in ``power_through`` only.
    field : float or int
        Field angle in degrees, within ±90 (towards +x); for a Prescription
        the index of one of its fields.
    seed : int
        The random stream, 0 ... 2**64 - 1.
    threads : int
        0: every core.
    positions, directions : array_like, shape (N, 3), optional
        Rays of your own instead of the beam (traced with ``System.trace``;
        each carries its intensity, 1 by default, as power).
    polarizations : array_like, shape (N, 3), optional
    intensities : array_like, shape (N,), optional

    Returns
    -------
    Irradiance
        ``.image``, ``.extent``, ``.rays``, ``.power`` and the spot
        statistics of the plane.

    Raises
    ------
    ValueError
        For arguments that are wrong, and when none of the first rays
        reaches the plane (for a default extent).

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> m = la.irradiance(s, rays=20000, wavelength=5.876e-4, z=52.5, bins=32)
    >>> m.image.shape, m.rays, round(m.power, 6)
    ((32, 32), 20000, 0.917436)
    """
    job = _IrradianceJob(system_or_prescription, rays, wavelength, z, bins, extent, field, seed, threads,
                         positions, directions, polarizations, intensities)
    job.resolve_extent()
    if job.arrays:
        nodes, failed = job.trace_arrays(0, job.rays, job.threads)
        return job.result(job.array_map(nodes, failed))
    return job.result(job.stream(0, job.rays, job.threads))


# -- fibre coupling -------------------------------------------------------------------

def _beam_fibre_coupling(system, *, wavelength, mode_radius, beam_radius=None, offset=(0.0, 0.0), field_angle=0.0,
                   samples=64, fft_size=None, pupil_radius=None, image_z=None, threads=0):
    """How much of a collimated Gaussian beam the system couples into a single-mode fibre.

    The beam, amplitude exp(-rho^2 / W^2) in the entrance pupil (W its 1/e^2
    intensity radius, cut off at the pupil radius), is focused onto a fibre
    whose mode is exp(-rho^2 / w^2), w the mode-field radius, centred at
    `offset` from the chief ray's point in the image plane. The efficiency
    is the power the mode takes over the power the whole beam brings, so
    the pupil's cut, Fresnel losses, vignetting and aberrations lower it.
    It is found by the overlap in the pupil (the mode's far field is the
    Gaussian of radius W_m = lambda f / (pi w) there) and, as a check, by
    the overlap in the image plane with the field from the FFT of `psf`;
    the two agree where both are well sampled.

    Parameters
    ----------
    mode_radius : float
        w, the fibre's mode-field radius, in length units.
    beam_radius : float, optional
        W; by default the matched W_m, which an ideal lens couples wholly.
    offset : (float, float)
        The fibre's centre from the chief ray's image point.
    system, wavelength, field_angle, samples, fft_size, pupil_radius, image_z, threads
        As in `psf`.

    Returns
    -------
    BeamCoupling
        ``efficiency`` (pupil route) and ``image_efficiency`` (image-plane
        route); ``transmitted``, the share of the beam's power that reaches
        the image; ``mode_match``, efficiency over transmitted;
        ``matched_radius`` W_m.

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la
    >>> s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    >>> c = la.fibre_coupling(s, wavelength=5e-4, mode_radius=5e-3, pupil_radius=4.0)
    >>> round(c.mode_match, 4), round(c.efficiency, 3)
    (1.0, 0.922)
    """
    system, wavelength, pupil_radius, threads = _common(system, wavelength, pupil_radius, threads)
    field_angle = _angle(field_angle)
    samples, fft_size = _samples(samples, fft_size)
    image_z = _optional(image_z, _real, "image_z")
    mode_radius = _positive(mode_radius, "mode_radius")
    beam_radius = _optional(beam_radius, _positive, "beam_radius")
    try:
        ox, oy = offset
    except (TypeError, ValueError):
        raise ValueError(f"offset must be a pair (x, y), not {offset!r}") from None
    ox, oy = _real(ox, "offset"), _real(oy, "offset")
    return _core.beam_coupling(system, wavelength, field_angle * _RADIANS, pupil_radius, image_z, mode_radius,
                                beam_radius, ox, oy, samples, fft_size, threads)


def fibre_coupling(system, **arguments):
    """How much light a system couples into a single-mode fibre.

    For a Prescription: fibre to fibre, the source fibre at the object point
    of ``field`` and the receiver in the image plane (``mode_radius``,
    ``receiver_radius``, ``field``, ``offset``, ``wavelength`` in um,
    ``samples``, ``threads``) -> FibreCoupling; see `_lens_fibre_coupling`.

    For a System: a collimated Gaussian beam focused into the fibre
    (``wavelength`` in the system's unit, ``mode_radius``, ``beam_radius``,
    ``offset``, ``field_angle``, ``samples``, ``fft_size``, ``pupil_radius``,
    ``image_z``, ``threads``) -> BeamCoupling; see `_beam_fibre_coupling`.
    """
    if isinstance(system, _Prescription):
        return _lens_fibre_coupling(system, **arguments)
    return _beam_fibre_coupling(system, **arguments)
