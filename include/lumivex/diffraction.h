// SPDX-License-Identifier: Apache-2.0
// Diffraction analyses from the traced wavefront: the wavefront map with its
// Zernike fit, the point spread function by FFT with the Strehl ratio and
// the encircled and ensquared energy, and the modulation transfer function.
//
// Pupil sampling. The entrance pupil (the beam's disk of radius r where it
// meets the first element) is sampled on a square grid of pitch h, the
// points at ((i + ½ − n/2)·h, (j + ½ − n/2)·h); with the default pitch 2r/N
// the grid is N × N and spans the diameter exactly. A point's ray carries
// the amplitude sqrt(I) of its transmitted power fraction I (Fresnel losses
// along the trace, the beam starting at 1) and the phase 2π·W of its optical
// path difference W in waves. Points off the disk, and points whose ray
// fails, misses the reference sphere or does not leave towards +z, are
// outside the pupil: amplitude 0, OPD NaN — never a zero of phase.
//
// Optical path difference, as the OPD fans (rayFan) measure it: W =
// OPL(chief) − OPL(ray) in waves on the sphere centred on the chief ray's
// point in the image plane through the chief ray's last node, positive where
// the wavefront leads.
//
// Image-plane sampling. Paraxially the ray through the pupil point h meets
// the image at the direction cosine h/f (f the effective focal length), so a
// pupil pitch h is a pitch h/f in direction cosine, and an M-point discrete
// Fourier transform of the pupil function gives the field in the image
// plane at the pitch
//   dx = λ·f/(M·h) = λ·F#·N/M          (F# = f/(2r), h = 2r/N),
// over a periodic window M·dx = λ·F#·N wide; the MTF's frequency step is
// 1/(M·dx) and its cutoff 1/(λ·F#) falls N steps from zero. The map from the
// entrance pupil to the exit pupil is taken as this linear one (pupil
// aberrations are neglected, as FFT PSFs do), with the paraxial F-number of
// the beam's pupil radius. The default FFT size is M = 4N: dx = λ·F#/4,
// twice as fine as the Nyquist pitch of the intensity, with room for the
// MTF's autocorrelation, which needs M ≥ 2N.
//
// Intensity. The PSF is |DFT|² of the pupil function scaled by 1/(M²·n_disk),
// n_disk the number of grid points on the pupil disk, so by Parseval's
// theorem its samples sum to the mean transmitted power fraction over the
// pupil: 1 for a lossless, unvignetted system.
//
// Orientation: the image grid's x and y are the system's x and y (x the
// tangential direction of the collimated beams, whose field lies in the x–z
// plane).
#ifndef LUMIVEX_DIFFRACTION_H
#define LUMIVEX_DIFFRACTION_H

#include <limits>
#include <vector>

#include "lumivex/analysis.h"
#include "lumivex/export.h"

namespace lumivex {

// The Fringe (University of Arizona) Zernike polynomials Z1 … Z37, not
// normalized: Z1 = 1, Z2 = ρ·cos θ, Z3 = ρ·sin θ, Z4 = 2ρ² − 1, Z5 = ρ²·cos 2θ,
// Z6 = ρ²·sin 2θ, Z7, Z8 = (3ρ³ − 2ρ)·cos θ, sin θ, Z9 = 6ρ⁴ − 6ρ² + 1, …,
// Z36 = R(10, 0), Z37 = R(12, 0); ρ on the unit disk, θ from the x axis
// towards y. A wavefront W040·ρ⁴ has the Z9 coefficient W040/6.
constexpr int kFringeZernikeTerms = 37;
// The radial degree n and azimuthal order m of Z_j, 1 ≤ j ≤ 37 (an xmsg
// otherwise).
LUMIVEX_API void fringeZernikeOrder(int j, int& n, int& m);
LUMIVEX_API double fringeZernike(int j, double rho, double theta);

// The wavefront over a square grid of the entrance pupil.
struct TWavefrontMap {
    int field = -1;  // a prescription's field index; −1 for a bare system's beam
    double fieldAngle = 0.0;
    double wavelength = 0.0;
    double z = 0.0;                          // the image plane
    double referenceX = 0.0, referenceY = 0.0;  // the reference sphere's centre in it
    double referenceRadius = 0.0;
    double pupilRadius = 0.0;  // r
    int samples = 0;           // n: the grid is n × n
    double pitch = 0.0;        // h, in the entrance pupil
    // n × n, row j (y) after row, column i (x): the OPD in waves, NaN outside
    // the pupil; the amplitude, 0 outside.
    std::vector<double> opd;
    std::vector<double> amplitude;
    int disk = 0;   // grid points on the disk of radius r
    int valid = 0;  // of those, the points inside the pupil
    // Over the points inside the pupil, in waves: the RMS and the peak to
    // valley about the plane fitted by least squares (piston and tilt
    // removed, as the Strehl ratio sees the wavefront: W_rms ≪ 1 gives
    // S ≈ exp(−(2π·W_rms)²)), and the RMS about the mean (referred to the
    // chief ray's point, tilt kept).
    double rms = 0.0;
    double pv = 0.0;
    double rmsToChief = 0.0;
    // Fringe Z1 … Z37 in waves, fitted by least squares to the points inside
    // the pupil at ρ = (x, y)/r.
    std::vector<double> zernike;
};

// The wavefront of a resolved beam with N × N samples (2 ≤ N ≤ 1024) in the
// image plane imageZ (NaN: the paraxial focus). The chief ray must go
// through; an xmsg when no other ray does.
LUMIVEX_API TWavefrontMap wavefrontMap(TOpticalSystem& system, const TCollimatedBeam& beam,
                                       double imageZ, int samples = 64,
                                       const TTraceOptions& options = TTraceOptions());

// How the pupil and the image are sampled.
struct TDiffractionSampling {
    int pupilSamples = 64;  // N across the pupil's diameter, 2 … 1024
    int fftSize = 0;        // M; 0: 4N. At least 2N at every wavelength
};

// One wavelength of a polychromatic analysis: the system as it is at that
// wavelength, a resolved beam of it, and its weight.
struct TSpectralSystem {
    TOpticalSystem* system = nullptr;
    TCollimatedBeam beam;
    double weight = 1.0;
};

// The point spread function on an M × M grid of the image plane.
struct TPsf {
    int field = -1;  // a prescription's field index; −1 for a bare system's beam
    double fieldAngle = 0.0;
    double z = 0.0;
    int pupilSamples = 0;  // N at the reference wavelength
    int size = 0;          // M
    double dx = 0.0;       // the sample pitch, in the system's length unit
    // The image point of the grid's centre sample (M/2, M/2): the reference
    // wavelength's chief ray in the plane z.
    double centreX = 0.0, centreY = 0.0;
    // M × M, row j after row, column i: the sample at
    // (centreX + (i − M/2)·dx, centreY + (j − M/2)·dx).
    std::vector<double> image;
    double power = 0.0;   // Σ image: the pupil's transmitted power fraction
    double peak = 0.0;    // the largest sample
    // peak over the largest sample of the aberration-free PSF of the same
    // pupil amplitudes (every OPD 0) on the same grid, which is its centre.
    double strehl = 0.0;
    // Per wavelength, the reference first: wavelength, normalized weight,
    // paraxial F-number, transmitted power fraction.
    std::vector<double> wavelengths, weights, fNumbers, powers;
};

// The monochromatic PSF of a resolved beam in the plane imageZ (NaN: the
// paraxial focus).
LUMIVEX_API TPsf pointSpread(TOpticalSystem& system, const TCollimatedBeam& beam, double imageZ,
                             const TDiffractionSampling& sampling = TDiffractionSampling(),
                             const TTraceOptions& options = TTraceOptions());
// The polychromatic PSF: the weighted mean of the wavelengths' PSFs on the
// grid of the first (the reference), whose pitch dx = λ0·F#0·N/M each
// wavelength meets by its own pupil pitch h = λ·f/(M·dx). Every wavelength's
// OPD is referred to the reference wavelength's chief ray point, so lateral
// colour shifts its PSF. Weights must be ≥ 0 with a positive sum; imageZ NaN
// is the reference wavelength's paraxial focus.
LUMIVEX_API TPsf pointSpread(const std::vector<TSpectralSystem>& spectrum, double imageZ,
                             const TDiffractionSampling& sampling = TDiffractionSampling(),
                             const TTraceOptions& options = TTraceOptions());

// The energy within circles of the radii (squares of the half widths) about
// the PSF's centroid, as a fraction of the PSF's whole energy. Each sample's
// energy is spread evenly over its dx × dx cell.
LUMIVEX_API std::vector<double> encircledEnergy(const TPsf& psf, const std::vector<double>& radii);
LUMIVEX_API std::vector<double> ensquaredEnergy(const TPsf& psf,
                                                const std::vector<double>& halfWidths);

// The modulation transfer function: the modulus of the optical transfer
// function, the Fourier transform of the PSF, normalized to 1 at zero
// frequency. Tangential: frequencies along x (the modulus of the line spread
// function's transform along x); sagittal: along y.
struct TMtf {
    int field = -1;
    double fieldAngle = 0.0;
    double z = 0.0;
    // Frequencies in cycles per length unit, steps of 1/(M·dx) from 0 up to
    // the cutoff 1/(λ·F#) of the shortest wavelength.
    std::vector<double> frequency;
    std::vector<double> tangential, sagittal;
    // The aberration-free MTF of a uniform circular pupil,
    // 2/π·(acos ν − ν·sqrt(1 − ν²)) with ν = f·λ·F#, weighted over the
    // wavelengths by weight × transmitted power.
    std::vector<double> diffractionLimit;
    double cutoff = 0.0;
};
LUMIVEX_API TMtf modulationTransfer(const TPsf& psf);
LUMIVEX_API TMtf modulationTransfer(TOpticalSystem& system, const TCollimatedBeam& beam,
                                    double imageZ,
                                    const TDiffractionSampling& sampling = TDiffractionSampling(),
                                    const TTraceOptions& options = TTraceOptions());

// Coupling of a beam into a single-mode fibre. A collimated Gaussian beam of 1/e²
// intensity radius W (amplitude exp(−ρ²/W²) about the beam's centre in the
// entrance pupil, cut off at the pupil radius) is focused by the system onto
// a fibre whose mode is the Gaussian exp(−ρ²/w²) of mode-field radius w,
// centred at an offset from the chief ray's point in the image plane. The
// efficiency is the power the mode takes over the power the beam brings,
// |∫ U·m*|² / (∫|U₀|² · ∫|m|²), U the field the system delivers and U₀ the
// incident beam's over its whole (uncut) plane, so the pupil's cut, Fresnel
// losses, vignetting and the wavefront's aberrations all lower it.
//
// Two routes to the same overlap, which agree by Parseval's theorem where
// both are well sampled:
// - in the pupil: the mode's far field maps through the pupil, as the PSF's
//   does (direction cosine h/f), to the Gaussian exp(−ρ²/W_m²) with
//   W_m = λ·f/(π·w), and the offset d to the phase exp(2πi·h·d/(λ·f)); the
//   overlap is the sum over the traced pupil grid of
//   A·exp(−ρ²/W²)·exp(2πi·W_opd)·exp(−ρ²/W_m²)·exp(2πi·h·d/(λ·f));
// - in the image plane: the field U by FFT of the pupil function on the
//   PSF's grid (pitch λ·F#·N/M), overlapped sample by sample with the mode.
// A beam of radius W = W_m fills the mode exactly: an aberration-free,
// lossless, uncut system couples it wholly, and an offset d lowers the
// efficiency to exp(−(d/w)²).
struct TBeamCoupling {
    double fieldAngle = 0.0;
    double wavelength = 0.0;
    double z = 0.0;              // the image plane
    double modeRadius = 0.0;     // w
    double beamRadius = 0.0;     // W, in the entrance pupil
    double matchedRadius = 0.0;  // W_m = λ·f/(π·w): the beam radius that matches the mode
    double offsetX = 0.0, offsetY = 0.0;  // the fibre's centre from the chief ray's point
    double efficiency = 0.0;       // by the pupil route
    double imageEfficiency = 0.0;  // by the image-plane route
    // The share of the beam's power that reaches the image (cut, losses),
    // and the efficiency over it: how well the delivered field matches the
    // mode, 1 for a perfect match.
    double transmitted = 0.0;
    double modeMatch = 0.0;
};

// The coupling of a resolved beam (its pupil radius the cut) into a fibre of
// mode-field radius `modeRadius` in the plane imageZ (NaN: the paraxial
// focus). beamRadius NaN takes the matched W_m. An xmsg for a mode or beam
// radius that is not positive and finite, an offset that is not finite, or
// sampling as pointSpread refuses it.
LUMIVEX_API TBeamCoupling beamCoupling(TOpticalSystem& system, const TCollimatedBeam& beam,
                                         double modeRadius, double beamRadius, double offsetX,
                                         double offsetY, double imageZ,
                                         const TDiffractionSampling& sampling = TDiffractionSampling(),
                                         const TTraceOptions& options = TTraceOptions());

// ---------------------------------------------------------------------------
// The diffraction analyses of a prescription, as those of analysis.h: its
// aperture, its stop (every ray aimed as the prescription says), its clear
// apertures and stop vignetting, field `field` (an index into its fields),
// wavelengths in micrometres and its image plane (imageZ NaN). The pupil
// grid spans the entrance pupil's diameter in normalised pupil
// coordinates, its points aimed at (px, py); the reference sphere is
// centred on the chief ray's point in the image plane and passes through
// the chief ray's crossing of the exit pupil plane, as rayFan's. The image
// plane's pitch follows the working F-number F# of the paraxial marginal
// ray, dx = λ·F#·N/M, which holds for finite conjugates too. fieldAngle is
// the chief ray's angle to the axis in object space.

// The wavefront at one wavelength (NaN: the primary).
LUMIVEX_API TWavefrontMap wavefrontMap(const TPrescription& lens, int field,
                                       double imageZ = std::numeric_limits<double>::quiet_NaN(),
                                       double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                       int samples = 64,
                                       const TTraceOptions& options = TTraceOptions());
// The PSF over the wavelengths with their weights, on the grid of the first
// (the reference, whose chief ray centres the grid); none given: the
// prescription's own, its primary the reference. One wavelength gives the
// monochromatic PSF.
LUMIVEX_API TPsf pointSpread(const TPrescription& lens, int field,
                             double imageZ = std::numeric_limits<double>::quiet_NaN(),
                             const std::vector<TWavelength>& wavelengths = {},
                             const TDiffractionSampling& sampling = TDiffractionSampling(),
                             const TTraceOptions& options = TTraceOptions());
LUMIVEX_API TMtf modulationTransfer(const TPrescription& lens, int field,
                                    double imageZ = std::numeric_limits<double>::quiet_NaN(),
                                    const std::vector<TWavelength>& wavelengths = {},
                                    const TDiffractionSampling& sampling = TDiffractionSampling(),
                                    const TTraceOptions& options = TTraceOptions());

// ---------------------------------------------------------------------------
// Fibre coupling: the power a single-mode fibre at an object point of a
// prescription couples into a fibre in its image plane. Both modes are
// Gaussian, E ∝ exp(−r²/w²) at their waists (w the mode field radius), the
// fibres' axes along z.
//
// The pupil-plane overlap: the source's far field A(u) = exp(−(π·n·w·|u|/λ)²)
// over its direction cosines u (n the object space's index) is sampled on
// an n × n grid out to 4 divergences λ/(π·n·w), each ray traced from the
// object point with the prescription's clear apertures and stop clipping.
// A ray leaves in direction u′ with the transmitted fraction T and the path
// L to the sphere about the receiving fibre's centre, where the receiver's
// far field F(u′) has a uniform phase; the rays' directions spread by
// J = |∂u′/∂u|. The efficiency is
//   η = |Σ A·sqrt(T·J)·F(u′)·exp(2πi·L/λ)|²·h⁴ / (∫|A|² du · ∫|F|² du′),
// h the grid's pitch, the integrals in closed form: the power that misses
// the system, is vignetted or leaves outside the receiver's mode is lost.
// The image-plane overlap, the second route: the source's mode along x at
// its waist, turned into a fan of beams by fieldToBeamFan (each along its
// phase gradient, flat at a waist), traced, carried to the image plane and
// turned back into the field there by beamFanToField, overlaps the
// receiver's mode: η_x(d) = |∫E·F*|² / (∫|E₀|² ∫|F|²) along x for an offset
// d. For a system that images the waist without aberration and acts alike
// along x and y (the field of a rotationally symmetric system on its axis),
// η = η_x(offsetX)·η_x(offsetY)/T_x, T_x the row's transmitted fraction.
// Geometric optics carries the beams without diffraction, so this route
// holds only where the system images the waist onto the receiver's plane
// (a relay whose object and image are the fibres' faces).
struct TFibreCoupling {
    int field = 0;
    double wavelength = 0.0;      // in lens units
    double z = 0.0;               // the image plane
    double receiverX = 0.0, receiverY = 0.0;  // the receiving fibre's centre
    double efficiency = 0.0;      // η
    double transmitted = 0.0;     // the source's power that reaches the image plane
    // η over the transmitted fraction: how well the light that arrives fits
    // the receiver's mode, 1 for a perfect relay whatever its faces reflect.
    double modeMatch = 0.0;
    double imagePlaneEfficiency = 0.0;  // η by the image-plane route
    int rays = 0;                 // traced rays that went through
};

// The source fibre at the object point of field `field` (the prescription
// needs a finite object; an object height is taken as given, an angle's
// point is where its chief ray starts) with mode field radius
// sourceRadius, the receiver of radius receiverRadius centred (offsetX,
// offsetY) from where the source fibre's axial ray (along z) meets the
// image plane. Through an element without a paraxial model (a
// gradient-index rod) give the image plane, and the stop does not clip; lengths in lens units, the wavelength in µm
// (NaN: the primary); samples across the grid, 8 … 1024.
LUMIVEX_API TFibreCoupling fibreCoupling(const TPrescription& lens, int field, double sourceRadius,
                                         double receiverRadius, double offsetX = 0.0,
                                         double offsetY = 0.0,
                                         double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                         int samples = 64,
                                         const TTraceOptions& options = TTraceOptions());

}  // namespace lumivex

#endif
