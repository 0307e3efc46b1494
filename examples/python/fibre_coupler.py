# SPDX-License-Identifier: Apache-2.0
"""A fibre-to-fibre coupler through a pair of gradient-index collimators.

Two single-mode fibres at 1.55 um face each other through two 0.23-pitch
gradient-index rods (axial index 1.59, gradient 0.33/mm, 1.8 mm across). The
first rod collimates the light of its fibre into the Gaussian beam whose
radius matches the second fibre's mode through the second rod (taken here as
an ideal collimator: the beam between the rods is exactly that Gaussian).
The second rod focuses it a quarter of a millimetre behind its face, into
the receiving fibre.

Left: the efficiency against the receiving fibre's lateral offset, for
telecom fibre (mode-field radius 5.2 um), beside exp(-(d/w)^2) times the two
faces' Fresnel transmittance. Right: against the mode-field radius. A
smaller mode needs a wider beam, which meets the spherical aberration of a
rod with the parabolic index profile (h4 = 0); the profile with h4 = 2/3
corrects it. Usage: fibre_coupler.py OUTPUT.png
"""

import math
import sys

import matplotlib.pyplot as plt
import numpy as np

import lumivex
import lumivex.analysis as la

WAVELENGTH = 1.55e-3  # mm
MODE = 5.2e-3         # the fibres' mode-field radius, mm
N0, G = 1.59, 0.33    # the rods' axial index and gradient constant (1/mm)
PITCH = 2 * math.pi / G



def rod(h4):
    return lumivex.System(0.9, [lumivex.Slab(0.0, 1.0), lumivex.GrinRod(0.23 * PITCH, N0, G, h4, 0.0)])


def coupling(system, mode, offset=0.0):
    return la.fibre_coupling(system, wavelength=WAVELENGTH, mode_radius=mode, offset=(offset, 0.0),
                             pupil_radius=0.85)


offsets = np.linspace(0.0, 3 * MODE, 25)
modes = np.linspace(1.5e-3, 6e-3, 19)
fig, (left, right) = plt.subplots(1, 2, figsize=(12, 4.5))
for h4, style in ((0.0, "o-"), (2 / 3, "s-")):
    label = f"rod with h4 = {h4:.3g}"
    left.plot(offsets * 1e3, [coupling(rod(h4), MODE, d).efficiency for d in offsets], style,
              markersize=4, label=label)
    right.plot(modes * 1e3, [coupling(rod(h4), w).efficiency for w in modes], style, markersize=4,
               label=label)
transmitted = coupling(rod(0.0), MODE).transmitted
left.plot(offsets * 1e3, transmitted * np.exp(-(offsets / MODE) ** 2), "k--", label="ideal: T exp(-(d/w)^2)")
left.set_xlabel("lateral offset of the receiving fibre d (um)")
left.set_title(f"Against offset, mode-field radius w = {MODE * 1e3:g} um", fontsize=10)
right.axhline(transmitted, color="k", linestyle="--", label="ideal: T, the faces' transmittance")
right.set_xlabel("mode-field radius of the fibres w (um)")
right.set_title("Against the fibres' mode-field radius, centred", fontsize=10)
for ax in (left, right):
    ax.set_ylabel("coupling efficiency")
    ax.set_ylim(0.0, 1.0)
    ax.grid(True, alpha=0.3)
    ax.legend(loc="center right" if ax is right else "upper right")
fig.suptitle(f"Fibre to fibre through 0.23-pitch GRIN rods at {WAVELENGTH * 1e3:g} um")
fig.tight_layout()
fig.savefig(sys.argv[1] if len(sys.argv) > 1 else "fibre_coupler.png", dpi=90)
