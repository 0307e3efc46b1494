# SPDX-License-Identifier: Apache-2.0
"""Spot diagram of a biconvex singlet at its paraxial focus.

Spheres of radius 50 mm either side of 5 mm of N-BK7 (n = 1.5168), a
collimated beam filling 90 % of the 6 mm aperture. The spot is dominated by
spherical aberration.

Usage: singlet_spot.py [output.png]
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import lumivex  # noqa: E402
import lumivex.analysis  # noqa: E402
import lumivex.plot  # noqa: E402

output = sys.argv[1] if len(sys.argv) > 1 else "singlet_spot.png"

system = lumivex.System(default_radius=6.0)
system.add(lumivex.SphericalLens(0.0, 1.0, 0.0, 50.0))  # air in front of the first face
system.add(lumivex.SphericalLens(5.0, 1.5168, 0.0, -50.0))  # glass in front of the second

# A square grid of rays 81 across, clipped to 90 % of the aperture, parallel to
# the axis, in the plane of the paraxial focus.
spot = lumivex.analysis.spot(system, wavelength=5.876e-4, pattern="grid", rays=81, pupil_radius=5.4)
focus = spot.image_z

fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.5), gridspec_kw={"width_ratios": [1.6, 1]})
fan_x = np.linspace(-5.4, 5.4, 13)
fan = system.trace(np.c_[fan_x, 0 * fan_x, fan_x * 0 - 5.0], np.tile([0.0, 0.0, 1.0], (13, 1)),
                   wavelength=5.876e-4, keep_nodes=True)
lumivex.plot.layout(system, fan, ax=left, end_z=focus + 5.0)
left.set_title("Singlet R = ±50 mm, 5 mm N-BK7")
lumivex.plot.spot_diagram(spot, ax=right)
fig.tight_layout()
fig.savefig(output, dpi=110)
print(f"{output}: {spot.rays} rays, paraxial focus at z = {focus:.4f} mm, RMS radius {spot.rms_radius:.4g} mm")
