// SPDX-License-Identifier: Apache-2.0
// Lens optimization: design variables on the elements of a system, operands
// measured on traced rays and first-order data, the merit function (the
// weighted sum of squares of the operands' residuals) and its Jacobian.
//
// The Jacobian comes from the trace itself. Each ray carries, beside its
// position P and direction k, their tangents dP/dθ and dk/dθ for every
// variable θ. At a surface the intersection is the one the library's search
// converged to, and its tangent follows from the implicit-function theorem
// applied to F(t, θ) = z0 + h(P + t·k) − (P + t·k).z = 0 at that point,
// dt/dθ = −(∂F/∂θ)/(∂F/∂t), never from differentiating the iteration; the
// normal's tangent comes from the sag's second derivative and the refracted
// direction's from Snell's law in vector form. This holds for the plane and
// the closed-form conic and even-asphere surfaces (TSlab, TSphericalLens,
// TGeneralLens, TLens, TEvenAsphere, none of them zoned). A variable whose
// rays pass an element of another kind (a height table, a gradient-index
// rod, a zoned or polynomial surface) gets its column by central
// differences instead; TEvaluation says which, per variable.
//
// Conventions: the last element of each system is the image surface (a
// TSlab at the image plane, usually), and spots are measured where the rays
// meet it. Lengths are in the system's unit, field angles in radians, the
// wavelengths those of TBeam (the system's length unit).
#ifndef LUMIVEX_OPTIMIZE_H
#define LUMIVEX_OPTIMIZE_H

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "lumivex/analysis.h"
#include "lumivex/export.h"
#include "lumivex/prescription.h"
#include "lumivex/system.h"

namespace lumivex {

enum class TVariableKind {
    curvature,  // 1/R of a conic or spherical surface (0: flat)
    thickness,  // z of the next element minus z of this one; all later elements move with it
    conic,      // the conic constant of a TGeneralLens, TLens or TEvenAsphere
    asphere     // the even asphere's coefficient of ρ^(2·term), term 1…8
};

struct LUMIVEX_API TDesignVariable {
    TVariableKind kind = TVariableKind::curvature;
    int element = 0;
    int term = 1;  // asphere only
    double lower = -std::numeric_limits<double>::infinity();
    double upper = std::numeric_limits<double>::infinity();
};

// "curvature 2", "thickness 3", "asphere 4 term 2".
LUMIVEX_API std::string variableName(const TDesignVariable& variable);
// The variable's value in the system; an xmsg when the element has no such
// parameter (a curvature of a slab, an asphere term of a conic, a thickness
// of the last element) or the index is out of range.
LUMIVEX_API double variableValue(const TOpticalSystem& system, const TDesignVariable& variable);

enum class TOperandKind {
    rmsSpot,        // RMS radius at the image surface about the centroid, or the chief ray
    rayError,       // transverse ray error of one pupil point against the chief ray
    efl,            // effective focal length from a near-axis ray, −h/u′
    bfl,            // the near-axis focus minus the z of the last element before the image
    fNumber,        // |efl| / (2 · pupil radius)
    totalTrack,     // z of the image surface minus z of the first element
    imageHeight,    // paraxial image height efl · tan(field angle)
    minThickness,   // a lower bound on z(element + 1) − z(element): contributes only below target
    maxThickness,   // an upper bound on the same
    minEdgeThickness  // a lower bound on the gap at height `height` (sags included)
};

// One operand: what is measured, where, its target and weight. Its
// contribution to the merit is weight · (value − target)², except for the
// bounds, which contribute only on the wrong side of their target.
struct LUMIVEX_API TOperand {
    TOperandKind kind = TOperandKind::rmsSpot;
    double target = 0.0;
    double weight = 1.0;
    int configuration = 0;    // which system (wavelength) the rays go through
    double fieldAngle = 0.0;  // radians, in the x–z plane (a bare system's beams)
    int field = 0;            // a prescription's field, an index into its fields
    // rmsSpot: at least this many rays, on hexapolar rings filling the pupil.
    int rays = 100;
    bool aboutChief = false;  // rmsSpot: about the chief ray instead of the centroid
    TPupilPoint pupil;        // rayError: normalised pupil point (−1 … 1)
    int element = 0;          // thickness operands: the gap behind this element
    double height = 0.0;      // minEdgeThickness: the height; 0: the smaller radius of the two
};

LUMIVEX_API std::string operandName(const TOperand& operand);

// How each Jacobian column was found.
enum class TDerivativeMethod { exact, centralDifferences };

// The merit function at one set of variable values.
struct LUMIVEX_API TEvaluation {
    std::vector<double> residuals;  // the solver's view: merit = Σ residuals²
    // d residual / d variable, rows × columns, row-major; empty unless asked.
    std::vector<double> jacobian;
    std::size_t rows = 0, columns = 0;
    double merit = 0.0;
    // Per operand: its rows [rowBegin[j], rowBegin[j + 1]), its value, its
    // contribution to the merit (the sum of squares of its rows), and, with
    // the Jacobian, d value / d variable (columns values per operand).
    std::vector<std::size_t> rowBegin;
    std::vector<double> values;
    std::vector<double> contributions;
    std::vector<double> valueGradients;
    std::vector<TDerivativeMethod> methods;  // per variable
    std::vector<std::string> methodReasons;  // per variable: why not exact ("" when exact)
    int failedRays = 0;                      // rays that failed or were vignetted
};

// The merit function of one design traced through one or more systems (one
// per wavelength: the same geometry with the indices at that wavelength).
// The systems are the host's; setting variables changes them all alike.
//
// RMS-spot operands with target 0 give the solver one row per ray and
// coordinate, sqrt(weight / N)·(x − x_ref), whose squares add up to
// weight · rms²; other operands give one row (two for rayError). A ray that
// fails or is vignetted counts as a point `penalty` from its reference (its
// rows are the penalty and 0, with zero derivatives), so a merit is never
// NaN; when the reference ray itself fails, every ray of the operand does.
class LUMIVEX_API TMeritFunction {
public:
    // The beams of the operands fill the entrance disk of radius
    // `pupilRadius` (NaN: the first element's radius, as resolveFilledBeam)
    // and start from the plane resolveBeam chooses for the system as given,
    // kept while the variables change so that only the lens moves.
    explicit TMeritFunction(TOpticalSystem& system, double wavelength,
                            double pupilRadius = std::numeric_limits<double>::quiet_NaN());
    // The merit function of a prescription, on a copy of it. Variables name
    // elements of lens.systemAt(); each configuration is one of its
    // wavelengths (configuration q: lens.wavelengths[q]), traced through
    // systemAt with an image plane appended as its last element (so a
    // thickness of the last surface is the distance to the image). Ray
    // operands take the field `field`, rays aimed as the prescription aims
    // them and clipped by its clear apertures and stop: a vignetted ray is
    // left out of a spot, as the prescription's spot diagram leaves it out.
    // Each evaluation aims the rays anew, by Newton's method on the stop
    // crossing from the last evaluation's aim, to the tolerance of
    // TPrescription::rays (so spots agree with the analyses' to about 1e-12
    // of their size), and each Jacobian column carries the aim's change.
    // EFL, BFL, F-number and image height are its paraxial data
    // (TPrescription::firstOrder) at the operand's wavelength. With
    // `imageAtFocus` the image plane follows the paraxial focus at the
    // primary wavelength as the variables change; without it, it stays at
    // lens.imagePlaneZ(). The pupil radius is the entrance pupil's at the
    // primary wavelength. An xmsg for a prescription that is not valid.
    TMeritFunction(const TPrescription& lens, bool imageAtFocus);
    // The image plane follows the focus when the prescription's imageZ is NaN.
    explicit TMeritFunction(const TPrescription& lens);
    ~TMeritFunction();
    TMeritFunction(TMeritFunction&&) noexcept;
    TMeritFunction& operator=(TMeritFunction&&) noexcept;
    // Another system of the same geometry (element kinds and positions) at
    // another wavelength; returns its configuration index.
    int addConfiguration(TOpticalSystem& system, double wavelength);

    std::vector<TDesignVariable> variables;
    std::vector<TOperand> operands;
    double penalty = std::numeric_limits<double>::quiet_NaN();  // NaN: the pupil radius
    int threads = 0;                                            // 0: every hardware thread

    double pupilRadius() const { return beamRadius; }
    bool hasPrescription() const { return lens != nullptr; }
    // The prescription with the variables' current values and, when it
    // follows the focus, its image plane there; an xmsg without one.
    TPrescription prescription() const;
    // The configuration of a wavelength in µm (a prescription's: one of its
    // wavelengths, or a configuration added for it); an xmsg without a
    // prescription.
    int wavelengthConfiguration(double wavelengthUm);
    // An operand's name for tables: operandName, or for a prescription's
    // operands with its field and wavelength in µm ("rms spot field 1 0.4861 um").
    std::string operandLabel(std::size_t operand) const;
    int configurations() const { return static_cast<int>(systems.size()); }
    TOpticalSystem& system(int configuration) const;

    // The variables' current values, read from the first system.
    std::vector<double> values() const;
    // Sets the variables in every system. Each value is applied to the
    // design as first seen, so setting the first values back restores every
    // element to the bit. An xmsg for a value the element cannot take (a
    // sphere of curvature 0) or a count that is not variables.size().
    void setValues(const std::vector<double>& values);

    // Residuals, per-operand values and contributions, and with
    // `withJacobian` the Jacobian and each operand's gradient. An xmsg for
    // an operand or variable that does not fit the system.
    TEvaluation evaluate(bool withJacobian = false);
    // The same Jacobian with every column by central differences, for
    // comparison; `relativeStep` scales each variable's step.
    TEvaluation evaluateByDifferences(double relativeStep = 1e-6);

private:
    struct Lens;  // the prescription, its systems and its aiming
    TEvaluation evaluateAt(bool withJacobian, bool allByDifferences, double relativeStep);
    std::vector<TOpticalSystem*> systems;
    std::vector<double> wavelengths;
    TCollimatedBeam beam;  // resolved against the first system (its wavelength unused)
    double beamRadius = 0.0;
    // Each system's elements as first seen (z, radius, conic, asphere
    // terms, a Lens record's fields), which setValues applies values to.
    std::vector<std::vector<std::vector<double>>> base;
    std::unique_ptr<Lens> lens;
    struct Scratch;  // buffers kept between evaluations
    std::unique_ptr<Scratch> scratch;
};

// How the merit and each operand change per unit of each variable, from one
// Jacobian: rows are operands, columns variables.
struct LUMIVEX_API TSensitivities {
    std::vector<std::string> variables;
    std::vector<std::string> operands;
    std::vector<double> merit;          // d merit / d variable
    std::vector<double> operandValues;  // d value / d variable, operands × variables, row-major
    std::vector<TDerivativeMethod> methods;
};
LUMIVEX_API TSensitivities sensitivities(TMeritFunction& merit);

// One iteration of the solver, as the progress callback sees it.
struct LUMIVEX_API TIterationReport {
    int iteration = 0;  // 0: the starting point
    double merit = 0.0;
    double stepNorm = 0.0;  // the length of the step in the variables
    bool stepAccepted = false;
    double seconds = 0.0;  // since the start
};

struct LUMIVEX_API TOptimizeOptions {
    int maxIterations = 50;
    // Stop when an iteration changes the merit by less than this share of it.
    double relativeMeritChange = 1e-9;
    double maxSeconds = 60.0;
    // Called after every iteration; returning false stops the solver there,
    // keeping the best values found.
    std::function<bool(const TIterationReport&)> progress;
};

struct LUMIVEX_API TOptimizeResult {
    std::vector<double> values;   // the optimized values, also set in the systems
    std::vector<double> history;  // the merit at the start and after each iteration
    TEvaluation before, after;    // operand values and contributions at both ends
    int iterations = 0;
    bool converged = false;  // a stopping rule on the merit or the step was met
    std::string stopReason;  // the solver's own words
    double seconds = 0.0;
};

// Damped least squares (Levenberg–Marquardt, by MINPACK's lmder, with the
// variables' bounds through smooth transforms) on the merit function's
// residuals and exact Jacobian, from the variables' current values (clamped
// into their bounds). A trial point the merit cannot be evaluated at (an
// element that cannot take a value) is a rejected step, not an error.
LUMIVEX_API TOptimizeResult optimize(TMeritFunction& merit,
                                     const TOptimizeOptions& options = TOptimizeOptions());

// optimize() on a prescription's merit function, with the optimized
// prescription (TMeritFunction::prescription) beside the solver's result.
struct LUMIVEX_API TPrescriptionResult : TOptimizeResult {
    TPrescription prescription;
};
LUMIVEX_API TPrescriptionResult optimizePrescription(
    TMeritFunction& merit, const TOptimizeOptions& options = TOptimizeOptions());

// The names hosts and merit files give the kinds: "curvature", "thickness",
// "conic", "asphere"; "rms_spot", "ray_error", "efl", "bfl", "f_number",
// "total_track", "image_height", "min_thickness", "max_thickness",
// "min_edge_thickness". An xmsg listing them for any other name.
LUMIVEX_API TVariableKind variableKindNamed(const std::string& name);
LUMIVEX_API TOperandKind operandKindNamed(const std::string& name);

// The merit function of a prescription from a merit file's JSON text:
//
//   {"variables": [{"vary": "curvature", "element": 1},
//                  {"vary": "thickness", "element": 3, "bounds": [1, 10]},
//                  {"vary": "asphere", "element": 4, "term": 2}],
//    "operands": [{"operand": "rms_spot", "field": "all", "wavelength": "all", "rays": 100},
//                 {"operand": "efl", "target": 50, "weight": 0.01},
//                 {"operand": "min_thickness", "element": 3, "target": 1}],
//    "image_at_focus": true, "max_iterations": 50}
//
// Elements index lens.systemAt(); a wavelength is in µm, "all" (one operand
// per wavelength of the prescription) or absent (the primary); a field is an
// index into its fields or "all". A target left out is 0 for rms_spot and
// ray_error, and the lens's present value for the others (so it is held).
// image_at_focus defaults to whether the prescription's image plane is at
// its focus; max_iterations, when given, goes into `options`. An xmsg
// "source: where: what" in one line for anything the file gets wrong
// ("merit.json: operands[2].field: the prescription has no field 5 (it has 3)").
LUMIVEX_API TMeritFunction meritFromJson(const TPrescription& lens, const std::string& text,
                                         const std::string& source,
                                         TOptimizeOptions* options = nullptr);
// The same from a file.
LUMIVEX_API TMeritFunction readMerit(const TPrescription& lens, const std::string& path,
                                     TOptimizeOptions* options = nullptr);

// The table a designer reads after a run: per operand its label, target,
// value after, weight and contribution to the merit before and after, and
// the merit's total before and after.
LUMIVEX_API std::string meritTable(const TMeritFunction& merit, const TOptimizeResult& result);

}  // namespace lumivex

#endif
