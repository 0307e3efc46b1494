# SPDX-License-Identifier: Apache-2.0
"""Figures of systems, traced rays and analyses with matplotlib.

matplotlib is imported when a figure is drawn, not with lumivex. Every
function takes ``ax=None`` (a new figure) and returns the axes it drew on.
"""

import numpy as np

_SURFACE = "#1d3557"
_GLASS = "#cde3f4"
_GRIN = "#93c9a3"
# The colours of a prescription's fields, in order, as `lumivex draw` has them.
_FIELDS = ("#1f5fa8", "#2a9d55", "#d62728", "#9467bd", "#e07b00", "#17a2b8", "#8c564b", "#d6399b")


def _axes(ax):
    if ax is None:
        import matplotlib.pyplot as plt

        _, ax = plt.subplots(figsize=(9, 4))
    return ax


def _ray_colours():
    from matplotlib.colors import LinearSegmentedColormap

    # Pale amber for weak rays through orange to deep red at full intensity,
    # the colours of `lumivex draw`.
    return LinearSegmentedColormap.from_list(
        "lumivex_intensity", [(0.99, 0.80, 0.45), (0.95, 0.45, 0.12), (0.70, 0.02, 0.06)])


def layout(system, traced=None, ax=None, end_z=None):
    """Draws the system and rays in the x-z section, the picture of ``lumivex draw``.

    Both draw one geometry, ``lumivex.analysis.layout``: faces drawn to
    their traced radius, the glass between neighbouring faces shaded blue,
    a gradient-index medium green, rays through their nodes coloured by
    their final intensity (failed rays grey, dashed), the optical axis, the
    paraxial focus F′, element names, and x stretched by the same round
    factor when the system is long and thin.

    A ``lumivex.Prescription`` is drawn as its designer defines it: its
    lenses as closed shapes, its surfaces numbered, its aperture stop
    marked, rays of each field coloured by field, its image plane.

    Parameters
    ----------
    system : System or Prescription
    traced : TraceResult or sequence of Beam, optional
        Rays to draw; a TraceResult must come from ``keep_nodes=True``. By
        default the fan of ``lumivex draw``: 11 rays parallel to the axis
        across 80 % of the first element's radius, at a wavelength of 5.5e-4.
    ax : matplotlib.axes.Axes, optional
    end_z : float, optional
        Where rays that leave the system end; by default a little beyond the
        last element, or beyond the focus when it is not too far behind it.

    Returns
    -------
    matplotlib.axes.Axes

    Examples
    --------
    >>> import lumivex, lumivex.plot
    >>> s = lumivex.System.from_text("OpticalSystem 6\\nSlab 0 1\\nLens 5 1.5 1 50 0\\n")
    >>> ax = lumivex.plot.layout(s)
    """
    ax = _axes(ax)
    if len(system) == 0:
        return ax
    from .analysis import layout as _layout

    g = _layout(system, traced, end_z=end_z)
    for piece in g.pieces:
        o = piece.outline
        if piece.medium == "grin":
            ax.fill(o[:, 0], o[:, 1], color=_GRIN, alpha=0.6, ec="#5b8f6a", lw=0.8, zorder=1)
        else:
            ax.fill(o[:, 0], o[:, 1], color=_GLASS, alpha=0.9, ec=_SURFACE, lw=0.8, zorder=1)
    ax.plot([g.z_min, g.z_max], [0.0, 0.0], color="#555555", lw=0.8, ls=(0, (16, 4, 3, 4)), zorder=0)
    colours = _ray_colours()
    by_field = len(g.field_labels) > 0
    drawn_fields = set()
    for ray in g.rays:
        p = ray.points
        if ray.ok or ray.vignetted:
            colour = (_FIELDS[ray.field % len(_FIELDS)] if by_field
                      else colours(float(np.clip(ray.intensity, 0, 1))))
            label = None
            if by_field and ray.field not in drawn_fields:
                label = g.field_labels[ray.field]
                drawn_fields.add(ray.field)
            ax.plot(p[:, 0], p[:, 1], color=colour, lw=1.0, zorder=2, label=label)
        else:
            ax.plot(p[:, 0], p[:, 1], color="#8a8a8a", lw=1.0, ls="--", zorder=2)
    for face in g.faces:
        if len(face.outline):
            ax.plot(face.outline[:, 0], face.outline[:, 1], color=_SURFACE, lw=1.6, zorder=3)
    # Face labels above their faces, skipping any that would run into the
    # one before (a character is about 1/135 of the length, as in the SVG,
    # and the gap between labels a third of one).
    char = (g.z_max - g.z_min) / 135.0
    label_end = -np.inf
    for face in g.faces:
        if not face.label:
            continue
        half = 0.5 * char * len(face.label)
        z, x = face.label_at
        if z - half >= label_end + char / 3:
            ax.annotate(face.label, (z, x), xytext=(0, 5), textcoords="offset points",
                        ha="center", fontsize=8, color="#33475b", zorder=5)
            label_end = z + half
    for mark in g.marks:
        p = mark.points
        ax.plot(p[:, 0], p[:, 1], color="#111111", lw=3.0 if mark.kind == "stop" else 1.4,
                solid_capstyle="butt", zorder=4)
    if by_field:
        ax.legend(loc="lower left", fontsize=7, frameon=False, title="fields", title_fontsize=7)
    for marker in g.markers:
        ax.plot(marker.z, marker.x, "o", ms=6, mfc="white", mec="black", mew=1.1, zorder=4)
        ax.annotate(marker.label, (marker.z, marker.x), xytext=(0, -14), textcoords="offset points",
                    ha="center", fontsize=10, style="italic")
    ax.set_xlim(g.z_min, g.z_max)
    ax.set_ylim(-g.x_max, g.x_max)
    ax.set_aspect(g.exaggeration, adjustable="box")
    ax.set_xlabel("z")
    ax.set_ylabel("x" if g.exaggeration == 1.0 else f"x (\u00d7{g.exaggeration:g})")
    return ax


def spot(result, image_z=None, ax=None):
    """Draws a spot diagram: where the traced rays cross a plane.

    Parameters
    ----------
    result : TraceResult
    image_z : float, optional
        The plane z = image_z; rays are carried there along their last
        direction. By default the rays' last positions.
    ax : matplotlib.axes.Axes, optional

    Returns
    -------
    matplotlib.axes.Axes

    Examples
    --------
    >>> import numpy as np, lumivex, lumivex.plot
    >>> s = lumivex.System.from_text("OpticalSystem 6\\nSlab 0 1\\nLens 5 1.5 1 50 0\\n")
    >>> x = np.linspace(-3, 3, 7)
    >>> r = s.trace(np.c_[x, 0 * x, x * 0 - 1], np.tile([0, 0, 1.0], (7, 1)), wavelength=5e-4)
    >>> ax = lumivex.plot.spot(r, image_z=55.0)
    """
    if ax is None:
        import matplotlib.pyplot as plt

        _, ax = plt.subplots(figsize=(5, 5))
    ok = np.asarray(result.ok)
    p = np.asarray(result.position)[ok]
    k = np.asarray(result.direction)[ok]
    if image_z is not None:
        with np.errstate(divide="ignore", invalid="ignore"):
            t = (image_z - p[:, 2]) / k[:, 2]
        keep = np.isfinite(t)
        p = p[keep] + t[keep, None] * k[keep]
        w = np.asarray(result.intensity)[ok][keep]
    else:
        w = np.asarray(result.intensity)[ok]
    ax.scatter(p[:, 0], p[:, 1], c=w, s=4, cmap=_ray_colours(), vmin=0, vmax=1, lw=0)
    if len(p):
        centre = p[:, :2].mean(axis=0)
        rms = np.sqrt(np.mean(np.sum((p[:, :2] - centre) ** 2, axis=1)))
        ax.set_title(f"{len(p)} rays, RMS radius {rms:.4g}")
    ax.set_aspect("equal", adjustable="datalim")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    return ax


def _wavelength_colour(um):
    """Roughly the colour a wavelength in micrometres looks, as ``lumivex spot`` draws it."""
    nm = um * 1000.0
    if nm < 440.0:
        r, g, b = min(max((440.0 - nm) / 60.0, 0.0), 1.0), 0.0, 1.0
    elif nm < 490.0:
        r, g, b = 0.0, (nm - 440.0) / 50.0, 1.0
    elif nm < 510.0:
        r, g, b = 0.0, 1.0, (510.0 - nm) / 20.0
    elif nm < 580.0:
        r, g, b = (nm - 510.0) / 70.0, 1.0, 0.0
    elif nm < 645.0:
        r, g, b = 1.0, (645.0 - nm) / 65.0, 0.0
    else:
        r, g, b = 1.0, 0.0, 0.0
    dim = 0.5 if nm < 380.0 or nm > 750.0 else 0.82
    return (r * dim, g * dim * 0.85, b * dim)


def _spot_panel(s, ax, extent):
    from matplotlib.patches import Circle

    ax.add_patch(Circle((0.0, 0.0), s.airy_radius, fill=False, color="#2a9d55", lw=1.2, ls="--",
                        label=f"Airy radius {s.airy_radius:.4g}", zorder=3))
    if len(s.wavelengths) > 1:
        # A polychromatic spot: each wavelength in the colour it looks.
        for k, um in enumerate(s.wavelengths):
            mine = s.wave == k
            ax.scatter(s.points[mine, 0], s.points[mine, 1], s=5, color=_wavelength_colour(um), lw=0,
                       label=f"{um:.4g} µm")
    else:
        ax.scatter(s.points[:, 0], s.points[:, 1], s=5, color="#1f5fa8", lw=0)
    ax.plot(*s.centroid, marker="+", color="#111111", ms=9, mew=1.2, ls="")
    ax.set_xlim(-extent, extent)
    ax.set_ylim(-extent, extent)
    ax.set_aspect("equal", adjustable="box")
    failed = f", {s.failed} failed" if s.failed else ""
    ax.set_title(f"{s.field_angle:g}°: RMS {s.rms_radius:.4g}, GEO {s.geo_radius:.4g}\n"
                 f"{s.rays} rays{failed}, z = {s.image_z:.5g}", fontsize=9)
    ax.set_xlabel("Δx")
    ax.set_ylabel("Δy")
    ax.legend(loc="upper right", fontsize=7, frameon=False)


def spot_diagram(spots, ax=None):
    """Draws spot diagrams from ``lumivex.analysis.spot`` or ``spots``.

    Each panel shows the points relative to the chief ray, the centroid (+),
    the Airy disk (dashed circle about the chief ray) and, in the title, the
    field angle and the RMS and geometric radii. Several spots share one
    scale, so that their sizes compare.

    Parameters
    ----------
    spots : Spot or sequence of Spot
    ax : matplotlib.axes.Axes or sequence of Axes, optional
        One per spot; by default a new figure with a row of panels.

    Returns
    -------
    matplotlib.axes.Axes, or a list of Axes for a sequence of spots

    Examples
    --------
    >>> import lumivex, lumivex.analysis, lumivex.plot
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> d = lumivex.analysis.spots(s, wavelength=5.876e-4, field_angles=[0, 2, 4])
    >>> axes = lumivex.plot.spot_diagram(d)
    """
    from .analysis import Spot

    single = isinstance(spots, Spot)
    group = [spots] if single else list(spots) if np.iterable(spots) else []
    if not group or not all(isinstance(s, Spot) for s in group):
        raise ValueError("spots must be a lumivex.analysis.Spot or a non-empty sequence of them")
    if ax is None:
        import matplotlib.pyplot as plt

        _, axes = plt.subplots(1, len(group), figsize=(3.6 * len(group) + 0.6, 4.2), squeeze=False)
        axes = list(axes[0])
    else:
        axes = [ax] if single or not np.iterable(ax) else list(np.ravel(ax))
        if len(axes) != len(group):
            raise ValueError(f"ax must hold one axes per spot: {len(group)}, not {len(axes)}")
    extent = max(max([s.airy_radius] + [float(np.abs(s.points).max()) for s in group if len(s.points)])
                 for s in group)
    extent = 1.08 * extent if extent > 0 else 1.0
    for s, a in zip(group, axes):
        _spot_panel(s, a, extent)
    if ax is None:
        axes[0].figure.tight_layout()
    return axes[0] if single else axes


def ray_fan(fan, ax=None):
    """Draws a ray fan or an OPD fan from ``lumivex.analysis``.

    The tangential and the sagittal curve against the normalised pupil
    coordinate, on one axes.

    Parameters
    ----------
    fan : lumivex.analysis.RayFan or OpdFan
    ax : matplotlib.axes.Axes, optional

    Returns
    -------
    matplotlib.axes.Axes

    Examples
    --------
    >>> import lumivex, lumivex.analysis, lumivex.plot
    >>> s = lumivex.System(6.0, [lumivex.SphericalLens(0, 1, 0, 50),
    ...                          lumivex.SphericalLens(5, 1.5168, 0, -50)])
    >>> ax = lumivex.plot.ray_fan(lumivex.analysis.opd_fan(s, wavelength=5.876e-4))
    """
    from .analysis import OpdFan, RayFan

    if not isinstance(fan, RayFan):
        raise ValueError("fan must be a lumivex.analysis.RayFan or OpdFan")
    opd = isinstance(fan, OpdFan)
    if ax is None:
        import matplotlib.pyplot as plt

        _, ax = plt.subplots(figsize=(5.5, 4))
    ax.plot(fan.rho, fan.tangential, color="#1f5fa8", lw=1.4, label="tangential (x)")
    ax.plot(fan.rho, fan.sagittal, color="#d1495b", lw=1.4, ls="--", label="sagittal (y)")
    ax.axhline(0.0, color="#555555", lw=0.7)
    ax.axvline(0.0, color="#555555", lw=0.7)
    ax.set_xlim(-1.0, 1.0)
    ax.set_xlabel("normalised pupil coordinate ρ")
    ax.set_ylabel("OPD (waves)" if opd else "transverse ray error")
    kind = "OPD fan" if opd else "Ray fan"
    ax.set_title(f"{kind}, {fan.field_angle:g}°, image plane z = {fan.image_z:.5g}", fontsize=10)
    ax.legend(fontsize=8, frameon=False)
    return ax


def psf(result, ax=None, decades=3, extent=None):
    """Draws a PSF from ``lumivex.analysis.psf`` as an image.

    The intensity on a logarithmic scale over ``decades`` decades below the
    peak, about the chief ray's image point, with the first dark ring of the
    Airy pattern (1.22 λ N) dashed.

    Parameters
    ----------
    result : lumivex.analysis.Psf
    ax : matplotlib.axes.Axes, optional
    decades : float
        The range of the colour scale, in decades below the peak.
    extent : float, optional
        Half the width drawn, in length units; by default half again the
        square holding 95 % of the energy, and at least six Airy radii.

    Returns
    -------
    matplotlib.axes.Axes

    Examples
    --------
    >>> import lumivex, lumivex.analysis, lumivex.plot
    >>> s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    >>> ax = lumivex.plot.psf(lumivex.analysis.psf(s, wavelength=5e-4, samples=32))
    """
    from matplotlib.patches import Circle

    from .analysis import Psf

    if not isinstance(result, Psf):
        raise ValueError("result must be a lumivex.analysis.Psf")
    if not decades > 0:
        raise ValueError(f"decades must be positive, not {decades!r}")
    if ax is None:
        import matplotlib.pyplot as plt

        _, ax = plt.subplots(figsize=(5.2, 4.4))
    image, dx, m = result.image, result.dx, result.size
    airy = 1.22 * result.wavelengths[0] * result.f_numbers[0]
    if extent is None:
        c = m // 2
        j, i = np.indices(image.shape)
        ring = np.bincount(np.maximum(np.abs(i - c), np.abs(j - c)).ravel(), weights=image.ravel())
        half = int(np.searchsorted(np.cumsum(ring), 0.95 * result.power)) + 1
        extent = max(1.5 * half * dx, 6 * airy)
    extent = min(extent, m // 2 * dx)
    shown = np.log10(np.maximum(image / result.peak, 10.0 ** -decades))
    edges = (np.arange(m + 1) - m // 2 - 0.5) * dx
    mesh = ax.pcolormesh(edges, edges, shown, cmap="magma", vmin=-decades, vmax=0.0, shading="flat",
                         rasterized=True)
    ax.add_patch(Circle((0, 0), airy, fill=False, ls="--", lw=1.0, color="#7fdca0"))
    ax.set_xlim(-extent, extent)
    ax.set_ylim(-extent, extent)
    ax.set_aspect("equal")
    ax.set_xlabel("x − chief ray x")
    ax.set_ylabel("y − chief ray y")
    ax.set_title(f"PSF, {result.field_angle:g}°, Strehl {result.strehl:.3f}, "
                 f"λ = {result.wavelengths[0]:.4g}", fontsize=10)
    ax.figure.colorbar(mesh, ax=ax, label="log₁₀ I / peak", shrink=0.85)
    return ax


def mtf(results, ax=None):
    """Draws MTF curves from ``lumivex.analysis.mtf`` against the diffraction limit.

    Tangential curves solid, sagittal dashed, one colour per field; the
    diffraction limit of the first in black.

    Parameters
    ----------
    results : lumivex.analysis.Mtf or sequence of them
    ax : matplotlib.axes.Axes, optional

    Returns
    -------
    matplotlib.axes.Axes

    Examples
    --------
    >>> import lumivex, lumivex.analysis as la, lumivex.plot
    >>> s = lumivex.System(6.0, [lumivex.Slab(0, 1), lumivex.Lens(5, 1.5, 0, 1, 50)])
    >>> ax = lumivex.plot.mtf([la.mtf(s, wavelength=5e-4, field_angle=a) for a in (0, 1)])
    """
    from .analysis import Mtf

    if isinstance(results, Mtf):
        results = [results]
    results = list(results)
    if not results or not all(isinstance(r, Mtf) for r in results):
        raise ValueError("results must be a lumivex.analysis.Mtf or a sequence of them")
    if ax is None:
        import matplotlib.pyplot as plt

        _, ax = plt.subplots(figsize=(6.5, 4.2))
    first = results[0]
    ax.plot(first.frequency, first.diffraction_limit, color="#111111", lw=1.0, label="diffraction limit",
            zorder=3)
    colours = ["#1f5fa8", "#d0481c", "#2a9d55", "#8e44ad", "#c79100", "#17a2b8", "#6d4c41", "#e83e8c"]
    for k, r in enumerate(results):
        colour = colours[k % len(colours)]
        ax.plot(r.frequency, r.tangential, color=colour, lw=1.5, label=f"{r.field_angle:g}° tangential")
        ax.plot(r.frequency, r.sagittal, color=colour, lw=1.5, ls="--", label=f"{r.field_angle:g}° sagittal")
    ax.set_xlim(0.0, max(r.cutoff for r in results))
    ax.set_ylim(0.0, 1.02)
    ax.set_xlabel("spatial frequency (cycles per length unit)")
    ax.set_ylabel("modulation")
    ax.set_title(f"MTF, image plane z = {first.image_z:.5g}", fontsize=10)
    ax.grid(color="#e3e6ea", lw=0.8)
    ax.legend(fontsize=8, frameon=False)
    return ax


def irradiance(result, ax=None, log=False, colorbar=True):
    """Draws an irradiance map: power per unit area over the detector.

    Parameters
    ----------
    result : lumivex.analysis.Irradiance
    ax : matplotlib Axes, optional
    log : bool
        A logarithmic colour scale (for faint halos beside a sharp core).
    colorbar : bool
        Adds a colour bar of the irradiance.

    Returns
    -------
    Axes
    """
    from matplotlib.colors import LogNorm

    if ax is None:
        import matplotlib.pyplot as plt

        _, ax = plt.subplots(figsize=(6, 5))
    x0, x1, y0, y1 = result.extent
    ny, nx = result.image.shape
    # Power per bin over the bin's area: irradiance, the same for any binning.
    E = result.image / ((x1 - x0) / nx * (y1 - y0) / ny)
    norm = None
    if log:
        positive = E[E > 0]
        norm = LogNorm(vmin=positive.min() if positive.size else 1e-12, vmax=max(E.max(), 1e-12))
        E = np.where(E > 0, E, np.nan)
    image = ax.imshow(E, origin="lower", extent=result.extent, cmap="inferno", norm=norm,
                      interpolation="nearest", aspect="equal")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    title = f"Irradiance at z = {result.z:.6g}: {result.rays:,} rays"
    if result.failed:
        title += f", {result.failed:,} failed"
    ax.set_title(title + f"\npower on the grid {result.power:.4g}, RMS radius {result.rms_radius:.4g}",
                 fontsize=10)
    if colorbar:
        ax.figure.colorbar(image, ax=ax, label="power per unit area")
    return ax


def _curves_axes(ax, size=(5.2, 4.2)):
    if ax is None:
        import matplotlib.pyplot as plt

        _, ax = plt.subplots(figsize=size)
    ax.grid(color="#e3e6ea", lw=0.8)
    ax.axvline(0.0, color="#9aa3ad", lw=0.8)
    return ax


def chromatic_focal_shift(result, ax=None, unit="mm"):
    """Draws the paraxial focus against the wavelength, as ``lumivex colour``.

    The shift from the primary wavelength's focus across, the wavelength
    upwards.

    Parameters
    ----------
    result : lumivex.analysis.FocalShift
    ax : matplotlib.axes.Axes, optional
    unit : str
        The lens unit, for the axis title.

    Returns
    -------
    matplotlib.axes.Axes
    """
    from .analysis import FocalShift

    if not isinstance(result, FocalShift):
        raise ValueError("result must be a lumivex.analysis.FocalShift")
    ax = _curves_axes(ax)
    ax.plot(result.shift, result.wavelengths, color="#1f5fa8", lw=1.6,
            label=f"paraxial focus less the primary's (range {result.range:.4g} {unit})")
    ax.set_xlabel(f"focus shift ({unit})")
    ax.set_ylabel("wavelength (µm)")
    ax.set_title("Chromatic focal shift", fontsize=10)
    ax.legend(fontsize=8, frameon=False)
    return ax


def lateral_colour(result, ax=None, unit="mm", field="field (degrees)"):
    """Draws the chief ray's height difference between the extreme wavelengths against the field.

    Parameters
    ----------
    result : lumivex.analysis.LateralColour
    ax : matplotlib.axes.Axes, optional
    unit : str
        The lens unit.
    field : str
        The field axis's title ("object height (mm)" for object heights).

    Returns
    -------
    matplotlib.axes.Axes
    """
    from .analysis import LateralColour

    if not isinstance(result, LateralColour):
        raise ValueError("result must be a lumivex.analysis.LateralColour")
    ax = _curves_axes(ax)
    ax.plot(result.difference, result.field, color="#d0481c", lw=1.6,
            label=f"{result.long_wavelength:.4g} µm less {result.short_wavelength:.4g} µm")
    ax.set_xlabel(f"chief-ray height difference ({unit})")
    ax.set_ylabel(field)
    ax.set_title(f"Lateral colour, image plane z = {result.image_z:.5g}", fontsize=10)
    ax.legend(fontsize=8, frameon=False)
    return ax


def field_curvature(result, ax=None, unit="mm", field="field (degrees)"):
    """Draws the tangential (solid) and sagittal (dashed) foci against the field.

    Parameters
    ----------
    result : lumivex.analysis.FieldCurves
    ax : matplotlib.axes.Axes, optional
    unit, field : str
        As in `lateral_colour`.

    Returns
    -------
    matplotlib.axes.Axes
    """
    from .analysis import FieldCurves

    if not isinstance(result, FieldCurves):
        raise ValueError("result must be a lumivex.analysis.FieldCurves")
    ax = _curves_axes(ax)
    ax.plot(result.tangential, result.field, color="#1f5fa8", lw=1.6, label="tangential")
    ax.plot(result.sagittal, result.field, color="#d0481c", lw=1.6, ls="--", label="sagittal")
    ax.set_xlabel(f"focus from the image plane ({unit})")
    ax.set_ylabel(field)
    ax.set_title(f"Field curvature at {result.wavelength:.4g} µm", fontsize=10)
    ax.legend(fontsize=8, frameon=False)
    return ax


def distortion(result, ax=None, field="field (degrees)"):
    """Draws the distortion in per cent against the field.

    Parameters
    ----------
    result : lumivex.analysis.FieldCurves
    ax : matplotlib.axes.Axes, optional
    field : str
        As in `lateral_colour`.

    Returns
    -------
    matplotlib.axes.Axes
    """
    from .analysis import FieldCurves

    if not isinstance(result, FieldCurves):
        raise ValueError("result must be a lumivex.analysis.FieldCurves")
    ax = _curves_axes(ax)
    ax.plot(result.distortion, result.field, color="#1f5fa8", lw=1.6,
            label="100 (h - h′)/h′, h′ the paraxial height")
    ax.set_xlabel("distortion (%)")
    ax.set_ylabel(field)
    ax.set_title(f"Distortion at {result.wavelength:.4g} µm", fontsize=10)
    ax.legend(fontsize=8, frameon=False)
    return ax
