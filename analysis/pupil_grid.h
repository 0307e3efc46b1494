// The traced pupil the wavefront map and the PSF are built from.
#ifndef LUMIVEX_ANALYSIS_PUPIL_GRID_H
#define LUMIVEX_ANALYSIS_PUPIL_GRID_H

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

}  // namespace lumivex::detail

#endif
