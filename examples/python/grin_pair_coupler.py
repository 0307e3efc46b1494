# SPDX-License-Identifier: Apache-2.0
"""A fibre-to-fibre coupler through a pair of quarter-pitch GRIN rods.

Each rod (n(r)^2 = n0^2 (1 - (g r)^2), n0 = 1.6, g = 0.2 /mm) is a quarter of
a pitch long, pi / (2 g): the first collimates the light of the fibre
butted against its entrance face, the second focuses it on its exit face,
1 mm of air between them. The pair images one face onto the other 1:1, so
a fibre of the same mode (mode field radius 5 um at 1.31 um) couples all
the light the four faces pass, falling as exp(-(d / w)^2) with a lateral
offset d of the receiving fibre. Both routes of
lumivex.analysis.fibre_coupling are drawn: the overlap of the modes' far
fields over the pupil, and the overlap in the image plane of the field the
source's mode becomes there.

Usage: grin_pair_coupler.py [output.png]
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import lumivex  # noqa: E402
import lumivex.analysis as la  # noqa: E402

output = sys.argv[1] if len(sys.argv) > 1 else "grin_pair_coupler.png"

n0, g = 1.6, 0.2
quarter = np.pi / (2 * g)
p = lumivex.Prescription()
p.title = "quarter-pitch GRIN pair"
p.add_standard(0.0, 0.0, lumivex.Material.index(n0))  # the first rod's entrance face
p.add_surface(lumivex.GrinRod(quarter, n0, g, 0.0, 0.0))  # its exit face, into air
p.add_standard(quarter + 1.0, 0.0, lumivex.Material.index(n0))
p.add_surface(lumivex.GrinRod(2 * quarter + 1.0, n0, g, 0.0, 0.0))
p.object_distance = 1e-9  # the source fibre against the first face
p.field_type = "object height"
p.fields = [(0.0, 0.0)]
p.wavelengths = [(1.31, 1.0)]
p.set_aperture("object NA", 0.2)
p.image_z = 2 * quarter + 1.0  # the receiving fibre against the last face

w = 0.005
offsets = np.linspace(0.0, 2.5 * w, 11)
pupil, image = [], []
for d in offsets:
    c = la.fibre_coupling(p, mode_radius=w, offset=(d, 0.0))
    pupil.append(c.efficiency)
    image.append(c.image_plane_efficiency)
    transmitted = c.transmitted
for d, a, b in zip(offsets, pupil, image):
    print(f"offset {d * 1000:5.2f} um: pupil {a:.4f}, image plane {b:.4f}, "
          f"closed form {transmitted * np.exp(-(d / w) ** 2):.4f}")

fig, ax = plt.subplots(figsize=(6.4, 4.2))
fine = np.linspace(0.0, offsets[-1], 200)
ax.plot(fine * 1000, transmitted * np.exp(-(fine / w) ** 2), color="#111111", lw=1.0,
        label=r"$T\,\exp(-(d/w)^2)$, T the faces' transmission")
ax.plot(offsets * 1000, pupil, "o", color="#1f5fa8", label="pupil-plane overlap")
ax.plot(offsets * 1000, image, "x", color="#d0481c", ms=8, label="image-plane overlap")
ax.set_xlabel("lateral offset of the receiving fibre (µm)")
ax.set_ylabel("coupling efficiency")
ax.set_title(f"Fibre to fibre through a quarter-pitch GRIN pair, w = {w * 1000:g} µm, λ = 1.31 µm",
             fontsize=10)
ax.set_ylim(0.0, 1.0)
ax.grid(color="#e3e6ea", lw=0.8)
ax.legend(fontsize=8, frameon=False)
fig.tight_layout()
fig.savefig(output, dpi=110)
print("wrote", output)
