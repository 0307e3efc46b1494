// SPDX-License-Identifier: Apache-2.0
// The traced pupil the wavefront map and the PSF are built from.
#ifndef LUMIVEX_ANALYSIS_PUPIL_GRID_H
#define LUMIVEX_ANALYSIS_PUPIL_GRID_H

#include <cstddef>
#include <functional>
#include <vector>

#include "analysis/reference_sphere.h"
#include "lumivex/diffraction.h"

namespace lumivex::detail {

// An n × n grid of pitch h over the entrance pupil, points at
// ((i + ½ − n/2)·h, (j + ½ − n/2)·h), row j after row: the OPD in waves (NaN
// outside the pupil) and the amplitude (0 outside).
struct TPupilWavefront {
    int n = 0;
    double pitch = 0.0;
    TReferenceSphere sphere;
    std::vector<double> opd, amplitude;
    int disk = 0;   // points on the disk of the beam's pupil radius
    int valid = 0;  // of those, the points inside the pupil
};

// Traces the grid of a resolved beam. The reference sphere is centred on
// `centre` in the image plane z, or on the chief ray's point there when
// centre is null.
TPupilWavefront tracePupil(TOpticalSystem& system, const TCollimatedBeam& beam, double z,
                           const TVector* centre, int n, double pitch,
                           const TTraceOptions& options);

// The points of an n × n grid of pitch h that lie on the disk of radius r,
// and the cell (row j·n + column i) of each.
void diskGrid(int n, double pitch, double r, std::vector<TPupilPoint>& points,
              std::vector<std::size_t>& cell);

// Fills a traced grid from its rays: ray p of the batch (traced from
// `starts`) belongs to the cell cell[p]; `chief` is the chief ray's index.
// A ray counts when it went through, leaves towards +z and meets the sphere.
void fillPupil(TPupilWavefront& w, const TRayBatch& starts, const TRayBatch& batch,
               const std::vector<std::size_t>& cell, std::size_t chief);

// The grid of field `field` of a prescription at a wavelength in µm, the
// pitch in units of the entrance pupil's radius and the points aimed at
// the normalised pupil; the reference sphere passes through the chief ray's
// crossing of the exit pupil plane, centred as above.
TPupilWavefront tracePupil(const TPrescription& lens, int field, double wavelengthUm, double z,
                           const TVector* centre, int n, double pitch,
                           const TTraceOptions& options);

// One wavelength of a PSF: its wavelength in lens units, weight and
// F-number, and the focal length and pupil radius in the unit of the grid's
// pitch, so that a pitch h sends the PSF's samples λ·focal/(M·h) apart;
// trace(n, h, centre) traces its grid with the sphere centred on centre.
struct TSpectralPupil {
    double wavelength = 0.0;
    double weight = 1.0;
    double fNumber = 0.0;
    double focal = 0.0;
    double radius = 0.0;
    std::function<TPupilWavefront(int n, double pitch, const TVector& centre)> trace;
};

// The PSF of the wavelengths on the first's grid (N across its pupil, an
// M-point FFT) in the plane z, centred on `centre`. The weights are checked
// and normalised here.
TPsf spreadOf(const std::vector<TSpectralPupil>& spectrum, double z, const TVector& centre,
              const TDiffractionSampling& sampling, int threads);

// The sampling checked and M resolved (0: 4N); an xmsg beginning with who.
TDiffractionSampling checkedSampling(const TDiffractionSampling& sampling, const char* who);

}  // namespace lumivex::detail

#endif
