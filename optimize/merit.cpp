// SPDX-License-Identifier: Apache-2.0
// The merit function: operands measured on rays traced with tangents, their
// residuals, and the Jacobian, exact where the trace carries tangents and by
// central differences where it does not.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <thread>

#include "lumivex/description.h"
#include "lumivex/optimize.h"
#include "lumivex/surfaces.h"
#include "optimize/tangent_trace.h"
#include "optimize/variables.h"

namespace lumivex {

using detail::ElementTangents;
using detail::TangentRay;
using detail::TangentShape;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kHalfPi = 1.5707963267948966;
// The near-axis ray of the first-order operands, as paraxialData takes it.
constexpr double kNearAxis = 1e-3;

std::string elementName(const TElement& e) {
    const TElementKind* kind = kindOf(e);
    return kind ? kind->name : "a host's class";
}

// The element whose change first reaches the rays.
int firstAffected(const TDesignVariable& v) {
    return v.kind == TVariableKind::thickness ? v.element + 1 : v.element;
}

// Rings of a hexapolar pattern holding at least n rays.
int ringsFor(int n) {
    int rings = 1;
    while (1 + 3 * rings * (rings + 1) < n) ++rings;
    return rings;
}

// The sag of an element at height r, for edge thicknesses.
double sagAtHeight(const TElement& e, double r, int index) {
    if (typeid(e) == typeid(TElement) || dynamic_cast<const TSlab*>(&e)) return 0.0;
    if (auto* f = dynamic_cast<const TFunctionalSurface*>(&e)) return f->Height(TVector(r, 0.0, 0.0));
    if (auto* m = dynamic_cast<const TMatrixSurface*>(&e)) return m->Height(TVector(r, 0.0, 0.0));
    throw xmsg("minEdgeThickness: element " + std::to_string(index) + " (" + elementName(e) +
               ") has no sag");
}

double stepFor(const TDesignVariable& v, double value, double relativeStep, double pupil) {
    double scale = 1.0;
    switch (v.kind) {
        case TVariableKind::curvature: scale = std::max(std::fabs(value), 1e-3); break;
        case TVariableKind::thickness:
        case TVariableKind::conic: scale = std::max(std::fabs(value), 1.0); break;
        case TVariableKind::asphere:
            // A step that moves the sag at the pupil's rim by about relativeStep.
            scale = std::max(std::fabs(value), std::pow(pupil > 0.0 ? pupil : 1.0, -2.0 * v.term));
            break;
    }
    return relativeStep * scale;
}

struct Job {
    int configuration;
    TBeamNode start;
    bool aimed = true;         // false: a prescription's ray that could not be aimed
    double px = 0.0, py = 0.0;  // a prescription's ray: its normalised pupil point
    int field = -1;            // and its field
    double vx = 0.0, vy = 0.0;  // and its aim (see aimRay)
};

constexpr double kPi = 3.141592653589793;

// The field perpendicular to the ray in the plane of the ray and x, as the
// prescription's analyses start their rays.
TVector polarizationFor(const TVector& k) {
    TVector e = TVector(1.0, 0.0, 0.0) - k * k.x;
    if (e.length() < 1e-6) e = TVector(0.0, 1.0, 0.0) - k * k.y;
    return e.unit();
}

// The paraxial data of a prescription the operands and the aim read.
struct Paraxial {
    double efl = 0.0, imageZ = 0.0, fNumber = 0.0, magnification = 0.0;
    double epZ = 0.0, epR = 0.0, stopSemi = 0.0;
};
Paraxial paraxialOf(const TFirstOrder& f) {
    return {f.efl, f.paraxialImageZ, f.fNumber, f.magnification, f.entrancePupilZ,
            f.entrancePupilDiameter / 2.0, f.stopSemiDiameter};
}
Paraxial operator-(const Paraxial& a, const Paraxial& b) {
    return {a.efl - b.efl,         a.imageZ - b.imageZ, a.fNumber - b.fNumber,
            a.magnification - b.magnification, a.epZ - b.epZ, a.epR - b.epR,
            a.stopSemi - b.stopSemi};
}
Paraxial operator*(const Paraxial& a, double s) {
    return {a.efl * s, a.imageZ * s, a.fNumber * s, a.magnification * s, a.epZ * s, a.epR * s,
            a.stopSemi * s};
}

// The object side of a prescription's aim: per field the direction's
// slopes (angle fields) or the object point (finite objects with heights).
struct AimGeometry {
    bool infinite = true;
    bool real = true;  // aimed at the stop, not at the paraxial pupil
    double z0 = 0.0;  // the object plane (finite objects)
    double start = 0.0;  // the plane the rays start in
    std::vector<double> tx, ty, hx, hy;  // hx, hy NaN: the point follows the pupil
};

// The aim's tangents: a unit change of the start point's x and y, or of the
// slopes dx/dz and dy/dz.
void seedAimColumns(const AimGeometry& g, const TBeamNode& start, std::size_t nv, TVector* dP,
                    TVector* dK) {
    if (g.infinite) {
        dP[nv] = TVector(1.0, 0.0, 0.0);
        dP[nv + 1] = TVector(0.0, 1.0, 0.0);
        dK[nv] = dK[nv + 1] = TVector();
        return;
    }
    const TVector& k = start.kVector;
    dP[nv] = dP[nv + 1] = TVector();
    dK[nv] = (TVector(1.0, 0.0, 0.0) - k * k.x) * k.z;
    dK[nv + 1] = (TVector(0.0, 1.0, 0.0) - k * k.y) * k.z;
}

// The start of a prescription's ray from its aim (vx, vy), as
// TPrescription::rays makes it: for an object at infinity a point in the
// start plane and the field's direction, for a finite one the object point
// and the slopes.
TBeamNode aimedStart(const AimGeometry& g, const Paraxial& at, const Job& job, double vx, double vy) {
    const std::size_t f = static_cast<std::size_t>(job.field);
    TVector P, k;
    if (g.infinite) {
        P = TVector(vx, vy, g.start);
        k = TVector(g.tx[f], g.ty[f], 1.0).unit();
    } else {
        const bool follows = std::isnan(g.hx[f]);
        const double D = at.epZ - g.z0;
        P = TVector(follows ? -D * g.tx[f] : g.hx[f], follows ? -D * g.ty[f] : g.hy[f], g.start);
        k = TVector(vx, vy, 1.0).unit();
    }
    return TBeamNode(P, k, 1.0, polarizationFor(k), 0.0);
}

// Aims a prescription's ray: at the paraxial pupil point, or by Newton's
// method on its stop crossing with the exact 2 × 2 Jacobian the aim columns
// carry, from the last evaluation's aim when there is one (the lens moves
// little between evaluations, so one or two steps do) and halving a step
// that lands farther off. Rays it cannot aim so go to TPrescription::rays,
// which follows wide fields out from the axis. The tolerances are
// TPrescription::rays's.
bool aimRay(const TOpticalSystem& system, const std::vector<ElementTangents>& plan,
            double wavelength, int stop, const AimGeometry& g, const Paraxial& at,
            const TPrescription& lens, double um, Job& job, bool warm, std::size_t nv,
            const std::vector<int>& columns, TVector* dP, TVector* dK) {
    const std::size_t f = static_cast<std::size_t>(job.field);
    if (!warm || !g.real) {
        // The paraxial guess: straight at the pupil point in the entrance pupil.
        const double ex = job.px * at.epR, ey = job.py * at.epR;
        if (g.infinite) {
            job.vx = ex - (at.epZ - g.start) * g.tx[f];
            job.vy = ey - (at.epZ - g.start) * g.ty[f];
        } else {
            const bool follows = std::isnan(g.hx[f]);
            const double D = at.epZ - g.z0;
            job.vx = (ex - (follows ? -D * g.tx[f] : g.hx[f])) / D;
            job.vy = (ey - (follows ? -D * g.ty[f] : g.hy[f])) / D;
        }
    }
    job.start = aimedStart(g, at, job, job.vx, job.vy);
    if (!g.real) return true;

    const double tx = job.px * at.stopSemi, ty = job.py * at.stopSemi;
    const double tolerance = 1e-11 * at.stopSemi, accept = 1e-9 * at.stopSemi;
    struct Try {
        bool ok = false;
        double rx = 0.0, ry = 0.0, j11 = 0.0, j12 = 0.0, j21 = 0.0, j22 = 0.0;
    };
    const auto cross = [&](double vx, double vy) {
        Try t;
        const TBeamNode start = aimedStart(g, at, job, vx, vy);
        seedAimColumns(g, start, nv, dP, dK);
        const TangentRay r =
            detail::traceTangents(system, plan, start, wavelength, columns, dP, dK, stop);
        if (!r.ok || !std::isfinite(r.P.x) || !std::isfinite(r.P.y)) return t;
        t.ok = true;
        t.rx = r.P.x - tx;
        t.ry = r.P.y - ty;
        t.j11 = dP[nv].x;
        t.j12 = dP[nv + 1].x;
        t.j21 = dP[nv].y;
        t.j22 = dP[nv + 1].y;
        return t;
    };
    double vx = job.vx, vy = job.vy;
    Try now = cross(vx, vy);
    for (int iteration = 0; now.ok && iteration < 30; ++iteration) {
        if (std::hypot(now.rx, now.ry) <= tolerance) break;
        const double det = now.j11 * now.j22 - now.j12 * now.j21;
        if (det == 0.0 || !std::isfinite(det)) break;
        double dx = -(now.j22 * now.rx - now.j12 * now.ry) / det;
        double dy = -(-now.j21 * now.rx + now.j11 * now.ry) / det;
        bool moved = false;
        for (int halving = 0; halving < 30 && !moved; ++halving, dx /= 2, dy /= 2) {
            const Try trial = cross(vx + dx, vy + dy);
            if (trial.ok && std::hypot(trial.rx, trial.ry) < std::hypot(now.rx, now.ry)) {
                vx += dx;
                vy += dy;
                now = trial;
                moved = true;
            }
        }
        if (!moved) break;
    }
    if (now.ok && std::hypot(now.rx, now.ry) <= accept) {
        job.vx = vx;
        job.vy = vy;
        job.start = aimedStart(g, at, job, vx, vy);
        return true;
    }
    const TAimedRay aimed = lens.rays(job.field, {{job.px, job.py}}, um).front();
    if (!aimed.ok) return false;
    job.start = TBeamNode(aimed.position, aimed.direction, 1.0, polarizationFor(aimed.direction), 0.0);
    const TVector& k = aimed.direction;
    job.vx = g.infinite ? aimed.position.x : k.x / k.z;
    job.vy = g.infinite ? aimed.position.y : k.y / k.z;
    return true;
}

// The start's tangents. Aimed at the stop: the aim's two columns nv and
// nv + 1, which fold into the others at the stop. Aimed at the paraxial
// pupil, the aim follows the pupil's place and size, so each column starts
// with that change of the aim. For a finite object given by an angle the
// object point, which the entrance pupil places, moves too.
void seedAim(const AimGeometry& g, const Paraxial& at, const std::vector<Paraxial>& rate,
             std::size_t nc, std::size_t q, const Job& job, const std::vector<int>& active,
             std::size_t nv, bool real, TVector* dP, TVector* dK) {
    const std::size_t f = static_cast<std::size_t>(job.field);
    seedAimColumns(g, job.start, nv, dP, dK);
    const bool follows = !g.infinite && std::isnan(g.hx[f]);
    const double D = at.epZ - g.z0;
    for (int m : active) {
        const std::size_t c = static_cast<std::size_t>(m);
        const Paraxial& d = rate[c * nc + q];
        dP[c] = dK[c] = TVector();
        if (follows) dP[c] = TVector(-d.epZ * g.tx[f], -d.epZ * g.ty[f], 0.0);
        if (real) continue;
        double dvx, dvy;
        if (g.infinite) {
            dvx = job.px * d.epR - d.epZ * g.tx[f];
            dvy = job.py * d.epR - d.epZ * g.ty[f];
        } else {
            const double hx = follows ? -D * g.tx[f] : g.hx[f];
            const double hy = follows ? -D * g.ty[f] : g.hy[f];
            const double dhx = follows ? -d.epZ * g.tx[f] : 0.0;
            const double dhy = follows ? -d.epZ * g.ty[f] : 0.0;
            dvx = (job.px * d.epR - dhx) / D - (job.px * at.epR - hx) * d.epZ / (D * D);
            dvy = (job.py * d.epR - dhy) / D - (job.py * at.epR - hy) * d.epZ / (D * D);
        }
        dP[c] = dP[c] + dP[nv] * dvx + dP[nv + 1] * dvy;
        dK[c] = dK[c] + dK[nv] * dvx + dK[nv + 1] * dvy;
    }
}

}  // namespace

std::string operandName(const TOperand& op) {
    const std::string at = " (configuration " + std::to_string(op.configuration) + ")";
    switch (op.kind) {
        case TOperandKind::rmsSpot:
            return std::string("rms spot") + (op.aboutChief ? " about chief" : "") + " field " +
                   std::to_string(op.fieldAngle) + at;
        case TOperandKind::rayError:
            return "ray error (" + std::to_string(op.pupil.x) + ", " + std::to_string(op.pupil.y) +
                   ") field " + std::to_string(op.fieldAngle) + at;
        case TOperandKind::efl: return "efl" + at;
        case TOperandKind::bfl: return "bfl" + at;
        case TOperandKind::fNumber: return "f-number" + at;
        case TOperandKind::totalTrack: return "total track";
        case TOperandKind::imageHeight:
            return "image height field " + std::to_string(op.fieldAngle) + at;
        case TOperandKind::minThickness: return "min thickness " + std::to_string(op.element);
        case TOperandKind::maxThickness: return "max thickness " + std::to_string(op.element);
        case TOperandKind::minEdgeThickness:
            return "min edge thickness " + std::to_string(op.element);
    }
    return "?";
}

// A prescription's side of the merit function: its copy, which carries the
// current values as the systems do, and one system per wavelength with the
// image plane appended.
struct TMeritFunction::Lens {
    TPrescription p;
    std::vector<std::vector<double>> base;  // its elements as first seen
    std::vector<std::unique_ptr<TOpticalSystem>> owned;
    std::vector<double> um;  // per configuration
    bool atFocus = false;
    bool imageWasNaN = false;
    double baseImageZ = 0.0;
    int surfaces = 0;
    // The last evaluation's rays (configuration, field, px, py each) and
    // their aims, where the next evaluation's aiming starts.
    std::vector<double> aimKeys, aim, aimState;

    detail::ElementList elements() const {
        detail::ElementList list;
        for (const TPrescriptionSurface& s : p.surfaces) list.push_back(s.element.get());
        return list;
    }
    // Applies the values to the prescription's surfaces. The distance from
    // the last surface to the image plane is no surface's: the image plane
    // element of the systems carries it.
    void apply(const std::vector<TDesignVariable>& variables, const std::vector<double>& values) {
        std::vector<TDesignVariable> own;
        std::vector<double> ownValues;
        for (std::size_t m = 0; m < variables.size(); ++m)
            if (!(variables[m].kind == TVariableKind::thickness && variables[m].element == surfaces - 1)) {
                own.push_back(variables[m]);
                ownValues.push_back(values[m]);
            }
        detail::applyValues(elements(), base, own, ownValues);
    }
};

struct TMeritFunction::Scratch {
    std::vector<TangentRay> rays;
    std::vector<TVector> dP, dK;
    std::vector<double> u, du;
};

TMeritFunction::~TMeritFunction() = default;
TMeritFunction::TMeritFunction(TMeritFunction&&) noexcept = default;
TMeritFunction& TMeritFunction::operator=(TMeritFunction&&) noexcept = default;

TMeritFunction::TMeritFunction(const TPrescription& p)
    : TMeritFunction(p, std::isnan(p.imageZ)) {}

TMeritFunction::TMeritFunction(const TPrescription& p, bool imageAtFocus) : lens(new Lens) {
    p.validate();
    Lens& L = *lens;
    L.p = p;
    L.atFocus = imageAtFocus;
    L.imageWasNaN = std::isnan(p.imageZ);
    L.surfaces = static_cast<int>(p.surfaces.size());
    const double imageZ = imageAtFocus ? p.firstOrder().paraxialImageZ : p.imagePlaneZ();
    if (!std::isfinite(imageZ))
        throw xmsg("TMeritFunction: the prescription's image plane is not finite");
    L.p.imageZ = imageZ;
    L.baseImageZ = imageZ;
    for (const TElement* e : L.elements()) L.base.push_back(detail::elementState(*e));
    beamRadius = p.firstOrder().entrancePupilDiameter / 2.0;
    for (const TWavelength& w : p.wavelengths) wavelengthConfiguration(w.um);
}

int TMeritFunction::wavelengthConfiguration(double um) {
    if (!lens) throw xmsg("TMeritFunction: wavelengths in micrometres need a prescription");
    Lens& L = *lens;
    um = L.p.resolveWavelength(um);
    for (std::size_t q = 0; q < L.um.size(); ++q)
        if (std::fabs(L.um[q] - um) <= 1e-12 * um) return static_cast<int>(q);
    // Built from the design as first seen, as every configuration's base
    // is, and then brought to the current values.
    TPrescription first = L.p;
    {
        const std::vector<TPrescriptionSurface>& from = L.p.surfaces;
        for (std::size_t i = 0; i < from.size(); ++i)
            detail::restoreState(*first.surfaces[i].element, L.base[i]);
    }
    auto system = std::make_unique<TOpticalSystem>(first.systemAt(um));
    // The image plane, in the medium behind the last surface.
    system->addElement(new TSlab(L.baseImageZ, L.p.surfaces.back().material.indexAt(um)));
    TOpticalSystem& s = *system;
    L.owned.push_back(std::move(system));
    L.um.push_back(um);
    systems.push_back(&s);
    wavelengths.push_back(L.p.wavelengthInLensUnit(um));
    std::vector<std::vector<double>> states;
    for (int i = 0; i < s.getSize(); ++i) states.push_back(detail::elementState(*s[i]));
    base.push_back(std::move(states));
    if (systems.size() > 1) setValues(values());
    return static_cast<int>(systems.size()) - 1;
}

TPrescription TMeritFunction::prescription() const {
    if (!lens) throw xmsg("TMeritFunction: it was not made from a prescription");
    TPrescription out = lens->p;
    out.imageZ = lens->atFocus && lens->imageWasNaN ? kNaN : systems.front()->getLast()->zPosition;
    return out;
}

TMeritFunction::TMeritFunction(TOpticalSystem& system, double wavelength, double pupilRadius) {
    if (!(wavelength > 0.0) || !std::isfinite(wavelength))
        throw xmsg("TMeritFunction: the wavelength must be a positive number");
    TCollimatedBeam b;
    b.wavelength = wavelength;
    b.pupilRadius = pupilRadius;
    beam = resolveFilledBeam(system, b);
    beamRadius = beam.pupilRadius;
    addConfiguration(system, wavelength);
}

int TMeritFunction::addConfiguration(TOpticalSystem& system, double wavelength) {
    if (lens)
        throw xmsg("TMeritFunction: a prescription's configurations are its wavelengths "
                   "(wavelengthConfiguration)");
    if (!(wavelength > 0.0) || !std::isfinite(wavelength))
        throw xmsg("TMeritFunction: the wavelength must be a positive number");
    if (!systems.empty()) {
        const TOpticalSystem& first = *systems.front();
        bool same = first.getSize() == system.getSize();
        for (int i = 0; same && i < system.getSize(); ++i)
            same = typeid(*first[i]) == typeid(*system[i]) &&
                   first[i]->zPosition == system[i]->zPosition;
        if (!same)
            throw xmsg("TMeritFunction: a configuration must have the elements of the first, "
                       "of the same kinds at the same places");
    }
    systems.push_back(&system);
    wavelengths.push_back(wavelength);
    std::vector<std::vector<double>> states;
    for (int i = 0; i < system.getSize(); ++i) states.push_back(detail::elementState(*system[i]));
    base.push_back(std::move(states));
    return static_cast<int>(systems.size()) - 1;
}

TOpticalSystem& TMeritFunction::system(int configuration) const {
    if (configuration < 0 || configuration >= configurations())
        throw xmsg("TMeritFunction: no configuration " + std::to_string(configuration));
    return *systems[static_cast<std::size_t>(configuration)];
}

std::vector<double> TMeritFunction::values() const {
    std::vector<double> out;
    for (const TDesignVariable& v : variables) out.push_back(variableValue(*systems.front(), v));
    return out;
}

void TMeritFunction::setValues(const std::vector<double>& values) {
    if (values.size() != variables.size())
        throw xmsg("TMeritFunction::setValues: " + std::to_string(values.size()) +
                   " values for " + std::to_string(variables.size()) + " variables");
    if (lens) {
        for (const TDesignVariable& v : variables)
            if (lens->atFocus && v.kind == TVariableKind::thickness && v.element == lens->surfaces - 1)
                throw xmsg(variableName(v) +
                           ": the image plane follows the paraxial focus, so the distance to it "
                           "is not free");
        lens->apply(variables, values);
    }
    for (std::size_t q = 0; q < systems.size(); ++q) {
        TOpticalSystem& s = *systems[q];
        detail::ElementList elements;
        for (int i = 0; i < s.getSize(); ++i) elements.push_back(s[i]);
        detail::applyValues(elements, base[q], variables, values);
    }
    if (lens) {
        double imageZ = systems.front()->getLast()->zPosition;
        if (lens->atFocus) {
            lens->p.imageZ = kNaN;
            imageZ = lens->p.firstOrder().paraxialImageZ;
            for (TOpticalSystem* s : systems) s->getLast()->zPosition = imageZ;
        }
        lens->p.imageZ = imageZ;
    }
}

TEvaluation TMeritFunction::evaluate(bool withJacobian) {
    return evaluateAt(withJacobian, false, 1e-5);
}

TEvaluation TMeritFunction::evaluateByDifferences(double relativeStep) {
    if (!(relativeStep > 0.0)) throw xmsg("evaluateByDifferences: the step must be positive");
    return evaluateAt(true, true, relativeStep);
}

TEvaluation TMeritFunction::evaluateAt(bool withJacobian, bool allByDifferences,
                                       double relativeStep) {
    const std::size_t nv = variables.size();
    const TOpticalSystem& first = *systems.front();
    const int n = first.getSize();
    if (n < 2) throw xmsg("TMeritFunction: the system needs a surface and an image surface");

    TEvaluation out;
    out.columns = nv;
    const std::vector<double> current = values();  // checks every variable
    for (std::size_t a = 0; a < nv; ++a)
        for (std::size_t b = a + 1; b < nv; ++b) {
            const TDesignVariable &va = variables[a], &vb = variables[b];
            if (va.kind == vb.kind && va.element == vb.element &&
                (va.kind != TVariableKind::asphere || va.term == vb.term))
                throw xmsg(variableName(va) + " is listed twice");
        }

    // Which columns the trace can carry: every element from the first one
    // the variable moves to the image must pass tangents.
    std::vector<int> active;
    out.methods.assign(nv, TDerivativeMethod::exact);
    out.methodReasons.assign(nv, "");
    for (std::size_t m = 0; m < nv; ++m) {
        if (allByDifferences) {
            out.methods[m] = TDerivativeMethod::centralDifferences;
            out.methodReasons[m] = "asked for";
            continue;
        }
        for (int j = firstAffected(variables[m]); j < n; ++j)
            if (detail::tangentShape(*first[j]) == TangentShape::other) {
                out.methods[m] = TDerivativeMethod::centralDifferences;
                out.methodReasons[m] = "element " + std::to_string(j) + " (" +
                                       elementName(*first[j]) + ") carries no derivatives";
                break;
            }
        if (withJacobian && out.methods[m] == TDerivativeMethod::exact)
            active.push_back(static_cast<int>(m));
    }

    // A prescription's paraxial data at the configurations its operands use,
    // and with the Jacobian their rates per variable, by central differences
    // of the y–nu traces (a few flops each, so far cheaper than any ray).
    const std::size_t nc = systems.size();
    std::vector<Paraxial> para(nc);
    std::vector<Paraxial> rate(withJacobian && lens ? nv * nc : 0);  // [m · nc + q]
    std::vector<double> focusRate(nv, 0.0);
    std::vector<char> used(nc, 0);
    std::vector<double> clip;
    if (lens) {
        const Lens& L = *lens;
        for (const TDesignVariable& v : variables)
            if (L.atFocus && v.kind == TVariableKind::thickness && v.element == L.surfaces - 1)
                throw xmsg(variableName(v) +
                           ": the image plane follows the paraxial focus, so the distance to it "
                           "is not free");
        for (const TOperand& op : operands) {
            if (op.configuration < 0 || op.configuration >= configurations())
                throw xmsg(operandName(op) + ": no such configuration");
            used[static_cast<std::size_t>(op.configuration)] = 1;
        }
        const auto measure = [&](std::vector<Paraxial>& into, double& focus) {
            for (std::size_t q = 0; q < nc; ++q)
                if (used[q]) into[q] = paraxialOf(L.p.firstOrder(L.um[q]));
            focus = L.p.firstOrder().paraxialImageZ;
        };
        double focus = 0.0;
        measure(para, focus);
        if (!rate.empty() && !active.empty()) {
            Lens& lensState = *lens;
            std::vector<Paraxial> plus(nc), minus(nc);
            std::vector<double> shifted = current;
            try {
                for (int m : active) {
                    const std::size_t c = static_cast<std::size_t>(m);
                    const double h = stepFor(variables[c], current[c], 1e-6, beamRadius);
                    double focusPlus = 0.0, focusMinus = 0.0;
                    shifted[c] = current[c] + h;
                    lensState.apply(variables, shifted);
                    measure(plus, focusPlus);
                    shifted[c] = current[c] - h;
                    lensState.apply(variables, shifted);
                    measure(minus, focusMinus);
                    shifted[c] = current[c];
                    for (std::size_t q = 0; q < nc; ++q)
                        rate[c * nc + q] = (plus[q] - minus[q]) * (1.0 / (2.0 * h));
                    focusRate[c] = (focusPlus - focusMinus) / (2.0 * h);
                }
            } catch (const xmsg&) {
                lensState.apply(variables, current);
                throw;
            }
            lensState.apply(variables, current);
        }
        clip = L.p.clipRadii();
    }

    // The tangent plan of each configuration, and the first element each
    // variable moves: its column is zero up to there.
    std::vector<std::vector<ElementTangents>> plans(systems.size());
    std::vector<int> firstElement(nv + 2, n);
    bool anyOther = false;
    for (std::size_t q = 0; q < systems.size(); ++q) {
        const TOpticalSystem& s = *systems[q];
        plans[q].resize(static_cast<std::size_t>(n));
        for (int j = 0; j < n; ++j) {
            ElementTangents& e = plans[q][static_cast<std::size_t>(j)];
            e.shape = detail::tangentShape(*s[j], &e.sag);
            e.surface = dynamic_cast<const TSurface*>(s[j]);
            if (j < static_cast<int>(clip.size()) && clip[static_cast<std::size_t>(j)] > 0.0)
                e.clip = clip[static_cast<std::size_t>(j)];
            anyOther = anyOther || e.shape == TangentShape::other;
            const bool followsFocus = lens && lens->atFocus && j == n - 1;
            // Room for the aim's two columns too, which nothing moves.
            e.zRate.assign(nv + 2, 0.0);
            e.reshapeIndex.assign(nv + 2, -1);
            bool moves = false;
            for (std::size_t m = 0; m < nv; ++m) {
                const TDesignVariable& v = variables[m];
                if (followsFocus) {
                    e.zRate[m] = focusRate[m];
                } else if (v.kind == TVariableKind::thickness) {
                    if (v.element < j) e.zRate[m] = 1.0;
                } else if (v.element == j) {
                    e.reshapeIndex[m] = static_cast<int>(e.reshaped.size());
                    e.reshaped.push_back({static_cast<int>(m), v.kind, v.term});
                }
                moves = moves || e.zRate[m] != 0.0 || e.reshapeIndex[m] >= 0;
                if ((e.zRate[m] != 0.0 || e.reshapeIndex[m] >= 0) && q == 0)
                    firstElement[m] = std::min(firstElement[m], j);
            }
            if (!moves) {
                e.zRate.clear();
                e.reshapeIndex.clear();
            }
        }
    }

    // A prescription's rays carry two more tangents, for their aim: the
    // start's two unknowns (a point in the start plane for an object at
    // infinity, the slopes for a finite one). Each variable's column then
    // gets the aim's own change added, as the implicit-function theorem
    // gives it from the stop crossing (real aiming) or from the paraxial
    // pupil (paraxial aiming).
    const bool aimColumns = lens && withJacobian && !active.empty();
    const bool realAim = aimColumns && lens->p.aiming == TAiming::real;
    const int stop = lens ? lens->p.stop : -1;
    if (realAim) {
        const TangentShape shape = plans.front()[static_cast<std::size_t>(stop)].shape;
        if (shape != TangentShape::plane && shape != TangentShape::conic)
            throw xmsg("TMeritFunction: the stop (element " + std::to_string(stop) +
                       ") must be a plane or conic surface for rays aimed at it");
    }
    // Aimed at the stop, the aim's two columns go as far as the stop, where
    // they fold into the others; aimed at the paraxial pupil, the start's
    // change seeds each column. A column whose start moves is live from the
    // start; one that changes only the stop's size from the stop on.
    std::vector<int> traced = active;
    if (realAim) {
        traced.push_back(static_cast<int>(nv));
        traced.push_back(static_cast<int>(nv + 1));
        firstElement[nv] = firstElement[nv + 1] = 0;
    }
    if (aimColumns) {
        const bool seeded = !realAim || (!std::isinf(lens->p.objectDistance) &&
                                         lens->p.fieldKind == TFieldKind::angle);
        for (int m : active) {
            const std::size_t c = static_cast<std::size_t>(m);
            bool stopSize = false;
            for (std::size_t q = 0; q < nc; ++q) stopSize = stopSize || rate[c * nc + q].stopSemi != 0.0;
            if (seeded) firstElement[c] = 0;
            if (realAim && stopSize) firstElement[c] = std::min(firstElement[c], stop + 1);
        }
    }

    // The rays every operand needs, in one list.
    std::vector<Job> jobs;
    std::vector<std::size_t> firstJob;
    for (const TOperand& op : operands) {
        firstJob.push_back(jobs.size());
        if (op.configuration < 0 || op.configuration >= configurations())
            throw xmsg(operandName(op) + ": no such configuration");
        const TOpticalSystem& s = *systems[static_cast<std::size_t>(op.configuration)];
        const bool rayOperand = op.kind == TOperandKind::rmsSpot || op.kind == TOperandKind::rayError;
        if (lens && (rayOperand || op.kind == TOperandKind::imageHeight) &&
            (op.field < 0 || op.field >= static_cast<int>(lens->p.fields.size())))
            throw xmsg(operandName(op) + ": the prescription has no field " +
                       std::to_string(op.field) + " (it has " +
                       std::to_string(lens->p.fields.size()) + ")");
        if (!lens && !(std::fabs(op.fieldAngle) < kHalfPi))
            throw xmsg(operandName(op) + ": the field angle must lie within ±90 degrees");
        TCollimatedBeam b = beam;
        b.fieldAngle = op.fieldAngle;
        std::vector<std::pair<double, double>> points;  // a prescription's pupil points
        const auto add = [&](double x, double y) {
            if (lens) {
                points.emplace_back(x, y);
                return;
            }
            jobs.push_back({op.configuration, startNode(s, b, {x, y})});
        };
        switch (op.kind) {
            case TOperandKind::rmsSpot:
                if (op.rays < 1) throw xmsg(operandName(op) + ": it needs at least one ray");
                // Ray 0, the pattern's centre, is the chief ray.
                for (const TPupilPoint& p : hexapolar(lens ? 1.0 : beamRadius, ringsFor(op.rays)))
                    add(p.x, p.y);
                break;
            case TOperandKind::rayError:
                add(0.0, 0.0);
                if (lens)
                    add(op.pupil.x, op.pupil.y);
                else
                    add(op.pupil.x * beamRadius, op.pupil.y * beamRadius);
                break;
            case TOperandKind::efl:
            case TOperandKind::bfl:
            case TOperandKind::fNumber:
            case TOperandKind::imageHeight:
                if (lens) break;  // paraxial data
                b.fieldAngle = 0.0;
                add(kNearAxis * (beamRadius > 0.0 ? beamRadius : 1.0), 0.0);
                break;
            case TOperandKind::minThickness:
            case TOperandKind::maxThickness:
            case TOperandKind::minEdgeThickness:
                if (op.element < 0 || op.element + 1 >= n)
                    throw xmsg(operandName(op) + ": no gap behind element " +
                               std::to_string(op.element));
                break;
            case TOperandKind::totalTrack: break;
        }
        for (const auto& point : points) {  // aimed on the workers below
            Job job{op.configuration, TBeamNode()};
            job.px = point.first;
            job.py = point.second;
            job.field = op.field;
            jobs.push_back(job);
        }
    }

    // What a prescription's aim depends on, per configuration and field.
    AimGeometry geometry;
    if (lens) {
        const TPrescription& L = lens->p;
        geometry.infinite = std::isinf(L.objectDistance);
        geometry.z0 = geometry.infinite ? 0.0 : L.objectZ();
        geometry.start = geometry.infinite ? L.startZ() : geometry.z0;
        geometry.real = L.aiming == TAiming::real;
        for (const TField& f : L.fields) {
            const bool angle = L.fieldKind == TFieldKind::angle;
            geometry.tx.push_back(angle ? std::tan(f.x * kPi / 180.0) : 0.0);
            geometry.ty.push_back(angle ? std::tan(f.y * kPi / 180.0) : 0.0);
            geometry.hx.push_back(angle ? kNaN : f.x);
            geometry.hy.push_back(angle ? kNaN : f.y);
        }
    }

    // The aim starts from the last evaluation's when the rays are the same.
    bool warm = false, settled = false;
    std::vector<std::vector<ElementTangents>> aimPlans;
    if (lens) {
        std::vector<double> keys;
        for (const Job& job : jobs)
            keys.insert(keys.end(), {static_cast<double>(job.configuration),
                                     static_cast<double>(job.field), job.px, job.py});
        warm = keys == lens->aimKeys;
        // The lens as the aim saw it: when nothing moved since (the Jacobian
        // at the point whose residuals the solver just took), the aim stands.
        std::vector<double> state;
        for (int j = 0; j < n; ++j) {
            const std::vector<double> e = detail::elementState(*first[j]);
            state.insert(state.end(), e.begin(), e.end());
        }
        settled = warm && state == lens->aimState;
        lens->aimState = std::move(state);
        if (warm)
            for (std::size_t i = 0; i < jobs.size(); ++i) {
                jobs[i].vx = lens->aim[2 * i];
                jobs[i].vy = lens->aim[2 * i + 1];
            }
        lens->aimKeys = std::move(keys);
        // Aiming looks at the stop alone: no clips, no variables.
        aimPlans = plans;
        for (auto& plan : aimPlans)
            for (ElementTangents& e : plan) {
                e.clip = 0.0;
                e.zRate.clear();
                e.reshapeIndex.clear();
                e.reshaped.clear();
            }
    }

    // Trace them with tangents on every core (on the calling thread alone
    // when an element is traced by its own traceBeam, which writes state).
    const std::size_t J = jobs.size();
    // The buffers stay with the merit function from one evaluation to the
    // next (a Jacobian's tangents run to megabytes), so the solver's
    // evaluations allocate nothing large.
    if (!scratch) scratch = std::make_unique<Scratch>();
    std::vector<TangentRay>& rays = scratch->rays;
    rays.assign(J, TangentRay());
    const std::size_t stride = withJacobian ? nv + (aimColumns ? 2 : 0) : 0;
    std::vector<TVector>& dP = scratch->dP;
    std::vector<TVector>& dK = scratch->dK;
    dP.assign(J * stride + 1, TVector());
    dK.assign(J * stride + 1, TVector());
    {
        unsigned count = threads > 0 ? static_cast<unsigned>(threads) : std::thread::hardware_concurrency();
        if (count == 0 || anyOther) count = 1;
        count = static_cast<unsigned>(std::min<std::size_t>(count, std::max<std::size_t>(J / 64, 1)));
        // Rays in chunks taken in turn, since aiming takes some rays longer.
        constexpr std::size_t kChunk = 64;
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            std::vector<TVector> aimP(nv + 2), aimK(nv + 2);
            std::vector<double> dTx(nv + 2, 0.0), dTy(nv + 2, 0.0);
            const std::vector<int> aimColumnsOnly = {static_cast<int>(nv), static_cast<int>(nv + 1)};
            for (std::size_t from; (from = next.fetch_add(kChunk)) < J;) {
                for (std::size_t i = from; i < std::min(J, from + kChunk); ++i) {
                    Job& job = jobs[i];
                    const std::size_t q = static_cast<std::size_t>(job.configuration);
                    if (lens && settled)
                        job.start = aimedStart(geometry, para[q], job, job.vx, job.vy);
                    else if (lens)
                        job.aimed = aimRay(*systems[q], aimPlans[q], wavelengths[q], stop, geometry, para[q],
                                           lens->p, lens->um[q], job, warm, nv, aimColumnsOnly,
                                           aimP.data(), aimK.data());
                    if (!job.aimed) continue;  // fails, as a ray that cannot be aimed
                    TVector* dPi = dP.data() + i * stride;
                    TVector* dKi = dK.data() + i * stride;
                    detail::AimFold fold;
                    if (aimColumns) {
                        seedAim(geometry, para[q], rate, nc, q, job, active, nv, realAim, dPi, dKi);
                        if (realAim) {
                            for (int m : active) {
                                const double dStop = rate[static_cast<std::size_t>(m) * nc + q].stopSemi;
                                dTx[static_cast<std::size_t>(m)] = job.px * dStop;
                                dTy[static_cast<std::size_t>(m)] = job.py * dStop;
                            }
                            fold.element = stop;
                            fold.first = static_cast<int>(nv);
                            fold.dTx = dTx.data();
                            fold.dTy = dTy.data();
                        }
                    }
                    rays[i] = detail::traceTangents(*systems[q], plans[q], job.start, wavelengths[q],
                                                    traced, dPi, dKi, -1, firstElement.data(),
                                                    realAim ? &fold : nullptr);
                }
            }
        };
        std::vector<std::thread> workers;
        for (unsigned t = 1; t < count; ++t) workers.emplace_back(work);
        work();
        for (std::thread& w : workers) w.join();
    }
    if (lens) {
        lens->aim.resize(2 * J);
        for (std::size_t i = 0; i < J; ++i) {
            lens->aim[2 * i] = jobs[i].vx;
            lens->aim[2 * i + 1] = jobs[i].vy;
        }
        // A ray that could not be aimed leaves no aim to start from.
        for (const Job& job : jobs)
            if (!job.aimed) lens->aimKeys.clear();
    }

    const double P = std::isnan(penalty) ? beamRadius : penalty;
    if (!std::isfinite(P) || P < 0.0) throw xmsg("TMeritFunction: the penalty must be finite and at least 0");

    // Rows of each operand, unweighted (u) with their gradients (du), then
    // scaled by the weight's square root.
    std::vector<double> jac;
    if (withJacobian) jac.reserve((2 * J + operands.size()) * nv);
    out.values.assign(operands.size(), kNaN);
    out.contributions.assign(operands.size(), 0.0);
    out.valueGradients.assign(withJacobian ? operands.size() * nv : 0, 0.0);
    // A prescription's first-order operands: its paraxial data at the
    // operand's wavelength, and their rates.
    const auto firstOrderOperand = [&](const TOperand& op, std::size_t, double& value,
                                       std::vector<double>& grad) {
        const std::size_t q = static_cast<std::size_t>(op.configuration);
        const Paraxial& a = para[q];
        const int lastSurface = n - 2;
        const double zLast = (*systems[q])[lastSurface]->zPosition;
        // The field's paraxial image height: efl·tan θ for an object at
        // infinity, the magnification times the object height otherwise.
        double tanField = 0.0, height = 0.0;
        if (op.kind == TOperandKind::imageHeight) {
            const TField& f = lens->p.fields[static_cast<std::size_t>(op.field)];
            const double signedField = (f.x != 0.0 ? (f.x < 0.0 ? -1.0 : 1.0) : (f.y < 0.0 ? -1.0 : 1.0)) *
                                       std::hypot(f.x, f.y);
            if (lens->p.fieldKind == TFieldKind::angle)
                tanField = std::tan(signedField * kPi / 180.0);
            else
                height = signedField;
        }
        const bool infinite = std::isinf(lens->p.objectDistance);
        const double z0 = infinite ? 0.0 : lens->p.objectZ();
        const auto valueOf = [&](const Paraxial& p, const Paraxial& d, bool rateOf) {
            switch (op.kind) {
                case TOperandKind::efl: return p.efl;
                case TOperandKind::fNumber: return p.fNumber;
                case TOperandKind::bfl: return p.imageZ;  // less the last surface's z below
                default:
                    if (infinite) return p.efl * tanField;
                    if (tanField == 0.0) return p.magnification * height;
                    // The object point whose chief ray leaves at the field angle.
                    if (!rateOf) return p.magnification * -(p.epZ - z0) * tanField;
                    return d.magnification * -(a.epZ - z0) * tanField - a.magnification * d.epZ * tanField;
            }
        };
        value = valueOf(a, a, false);
        if (op.kind == TOperandKind::bfl) value -= zLast;
        if (!withJacobian) return;
        for (int v : active) {
            const std::size_t c = static_cast<std::size_t>(v);
            const Paraxial& d = rate[c * nc + q];
            double g = op.kind == TOperandKind::imageHeight && !infinite && tanField != 0.0
                           ? valueOf(a, d, true)
                           : valueOf(d, d, false);
            const TDesignVariable& var = variables[c];
            if (op.kind == TOperandKind::bfl && var.kind == TVariableKind::thickness &&
                var.element < lastSurface)
                g -= 1.0;
            grad[c] = g;
        }
    };
    for (std::size_t o = 0; o < operands.size(); ++o) {
        const TOperand& op = operands[o];
        if (!(op.weight >= 0.0) || !std::isfinite(op.weight))
            throw xmsg(operandName(op) + ": the weight must be finite and at least 0");
        const double sw = std::sqrt(op.weight);
        const std::size_t j0 = firstJob[o];
        const TOpticalSystem& s = *systems[static_cast<std::size_t>(op.configuration)];
        std::vector<double>& u = scratch->u;  // rows
        std::vector<double>& du = scratch->du;  // and rows × nv gradients
        u.clear();
        du.clear();
        std::vector<double> grad(nv, 0.0);
        double value = kNaN;
        bool single = true;  // one row: sw·(value − target), one-sided for bounds
        const auto tangent = [&](std::size_t job, int v) -> const TVector& { return dP[job * stride + static_cast<std::size_t>(v)]; };
        const auto ktangent = [&](std::size_t job, int v) -> const TVector& { return dK[job * stride + static_cast<std::size_t>(v)]; };

        switch (op.kind) {
            case TOperandKind::rmsSpot: {
                const std::size_t N = hexapolar(1.0, ringsFor(op.rays)).size();
                double xr = 0.0, yr = 0.0;
                std::vector<double> dxr(nv, 0.0), dyr(nv, 0.0);
                int good = 0;
                std::size_t vignetted = 0;
                for (std::size_t i = 0; i < N; ++i) {
                    good += rays[j0 + i].ok ? 1 : 0;
                    vignetted += rays[j0 + i].vignetted ? 1 : 0;
                }
                bool referenced = good > 0;
                if (op.aboutChief) {
                    referenced = rays[j0].ok;
                    if (referenced) {
                        xr = rays[j0].P.x;
                        yr = rays[j0].P.y;
                        for (int v : active) {
                            dxr[static_cast<std::size_t>(v)] = tangent(j0, v).x;
                            dyr[static_cast<std::size_t>(v)] = tangent(j0, v).y;
                        }
                    }
                } else if (referenced) {
                    for (std::size_t i = 0; i < N; ++i)
                        if (rays[j0 + i].ok) {
                            xr += rays[j0 + i].P.x;
                            yr += rays[j0 + i].P.y;
                            for (int v : active) {
                                dxr[static_cast<std::size_t>(v)] += tangent(j0 + i, v).x;
                                dyr[static_cast<std::size_t>(v)] += tangent(j0 + i, v).y;
                            }
                        }
                    xr /= good;
                    yr /= good;
                    for (int v : active) {
                        dxr[static_cast<std::size_t>(v)] /= good;
                        dyr[static_cast<std::size_t>(v)] /= good;
                    }
                }
                // A clear aperture's rays are left out of the spot, as the
                // spot diagram leaves them out; failed rays count at the
                // penalty, and every ray does when none gives a reference.
                const double norm =
                    1.0 / std::sqrt(static_cast<double>(referenced ? N - vignetted : N));
                u.assign(2 * N, 0.0);
                du.assign(2 * N * nv, 0.0);
                double sum = 0.0;
                for (std::size_t i = 0; i < N; ++i) {
                    const TangentRay& r = rays[j0 + i];
                    if (referenced && r.vignetted) {
                        ++out.failedRays;
                    } else if (!referenced || !r.ok) {
                        u[2 * i] = P * norm;
                        ++out.failedRays;
                    } else {
                        u[2 * i] = (r.P.x - xr) * norm;
                        u[2 * i + 1] = (r.P.y - yr) * norm;
                        for (int v : active) {
                            const std::size_t c = static_cast<std::size_t>(v);
                            du[2 * i * nv + c] = (tangent(j0 + i, v).x - dxr[c]) * norm;
                            du[(2 * i + 1) * nv + c] = (tangent(j0 + i, v).y - dyr[c]) * norm;
                        }
                    }
                    sum += u[2 * i] * u[2 * i] + u[2 * i + 1] * u[2 * i + 1];
                }
                value = std::sqrt(sum);
                if (value > 0.0)
                    for (std::size_t row = 0; row < u.size(); ++row)
                        for (int v : active)
                            grad[static_cast<std::size_t>(v)] +=
                                u[row] * du[row * nv + static_cast<std::size_t>(v)] / value;
                // With target 0 the solver sees every ray; sw·u squares to
                // weight·rms².
                single = op.target != 0.0;
                break;
            }
            case TOperandKind::rayError: {
                const TangentRay &c = rays[j0], &r = rays[j0 + 1];
                u.assign(2, 0.0);
                du.assign(2 * nv, 0.0);
                if (c.ok && r.ok) {
                    u[0] = r.P.x - c.P.x;
                    u[1] = r.P.y - c.P.y;
                    for (int v : active) {
                        const std::size_t k = static_cast<std::size_t>(v);
                        du[k] = tangent(j0 + 1, v).x - tangent(j0, v).x;
                        du[nv + k] = tangent(j0 + 1, v).y - tangent(j0, v).y;
                    }
                } else {
                    u[0] = P;
                    ++out.failedRays;
                }
                value = std::hypot(u[0], u[1]);
                if (value > 0.0)
                    for (int v : active) {
                        const std::size_t k = static_cast<std::size_t>(v);
                        grad[k] = (u[0] * du[k] + u[1] * du[nv + k]) / value;
                    }
                single = false;
                break;
            }
            case TOperandKind::efl:
            case TOperandKind::bfl:
            case TOperandKind::fNumber:
            case TOperandKind::imageHeight: {
                if (lens) {
                    firstOrderOperand(op, o, value, grad);
                    break;
                }
                const TangentRay& r = rays[j0];
                const double h = kNearAxis * (beamRadius > 0.0 ? beamRadius : 1.0);
                if (!r.ok || r.k.x == 0.0 || !(r.k.z > 0.0)) {
                    ++out.failedRays;
                    break;  // value NaN: the penalty below
                }
                // The exit slope u′ = kx/kz and f = −h/u′.
                const double slope = r.k.x / r.k.z;
                const double efl = -h / slope;
                std::vector<double> defl(nv, 0.0);
                for (int v : active) {
                    const TVector& dk = ktangent(j0, v);
                    const double dslope = (dk.x * r.k.z - r.k.x * dk.z) / (r.k.z * r.k.z);
                    defl[static_cast<std::size_t>(v)] = h * dslope / (slope * slope);
                }
                if (op.kind == TOperandKind::efl) {
                    value = efl;
                    grad = defl;
                } else if (op.kind == TOperandKind::fNumber) {
                    value = std::fabs(efl) / (2.0 * beamRadius);
                    for (int v : active)
                        grad[static_cast<std::size_t>(v)] =
                            (efl < 0.0 ? -1.0 : 1.0) * defl[static_cast<std::size_t>(v)] / (2.0 * beamRadius);
                } else if (op.kind == TOperandKind::imageHeight) {
                    const double t = std::tan(op.fieldAngle);
                    value = efl * t;
                    for (int v : active) grad[static_cast<std::size_t>(v)] = defl[static_cast<std::size_t>(v)] * t;
                } else {
                    // Where the exit line crosses the axis, behind the last
                    // surface before the image.
                    const TVector& X = r.P;
                    const double zf = X.z - X.x * r.k.z / r.k.x;
                    const int lastSurface = n - 2;
                    value = zf - s[lastSurface]->zPosition;
                    for (int v : active) {
                        const TVector& dX = tangent(j0, v);
                        const TVector& dk = ktangent(j0, v);
                        const double ratio = r.k.z / r.k.x;
                        const double dratio = (dk.z * r.k.x - r.k.z * dk.x) / (r.k.x * r.k.x);
                        double d = dX.z - (dX.x * ratio + X.x * dratio);
                        const TDesignVariable& var = variables[static_cast<std::size_t>(v)];
                        if (var.kind == TVariableKind::thickness && var.element < lastSurface) d -= 1.0;
                        grad[static_cast<std::size_t>(v)] = d;
                    }
                }
                break;
            }
            case TOperandKind::totalTrack:
                value = s[n - 1]->zPosition - s[0]->zPosition;
                for (int v : active)
                    if (lens && lens->atFocus)
                        grad[static_cast<std::size_t>(v)] = focusRate[static_cast<std::size_t>(v)];
                    else if (variables[static_cast<std::size_t>(v)].kind == TVariableKind::thickness)
                        grad[static_cast<std::size_t>(v)] = 1.0;
                break;
            case TOperandKind::minThickness:
            case TOperandKind::maxThickness:
            case TOperandKind::minEdgeThickness: {
                const int i = op.element;
                value = s[i + 1]->zPosition - s[i]->zPosition;
                if (op.kind == TOperandKind::minEdgeThickness) {
                    const auto radiusOf = [](const TElement& e) {
                        return e.radius > 0.0 ? e.radius : e.getRadius();
                    };
                    const double r = op.height > 0.0 ? op.height : std::min(radiusOf(*s[i]), radiusOf(*s[i + 1]));
                    value += sagAtHeight(*s[i + 1], r, i + 1) - sagAtHeight(*s[i], r, i);
                    for (int v : active) {
                        const TDesignVariable& var = variables[static_cast<std::size_t>(v)];
                        if (var.kind == TVariableKind::thickness || (var.element != i && var.element != i + 1)) continue;
                        detail::ConicSag sag;
                        if (detail::tangentShape(*s[var.element], &sag) != TangentShape::conic) continue;
                        double dh = 0.0, dslope = 0.0;
                        detail::sagPartials(sag, var.kind, var.term, r * r, dh, dslope);
                        grad[static_cast<std::size_t>(v)] = var.element == i + 1 ? dh : -dh;
                    }
                }
                for (int v : active) {
                    const TDesignVariable& var = variables[static_cast<std::size_t>(v)];
                    if (var.kind == TVariableKind::thickness && var.element == i) grad[static_cast<std::size_t>(v)] = 1.0;
                }
                break;
            }
        }

        out.values[o] = value;
        if (withJacobian)
            std::copy(grad.begin(), grad.end(), out.valueGradients.begin() + static_cast<std::ptrdiff_t>(o * nv));
        out.rowBegin.push_back(out.residuals.size());
        if (single) {
            double row = 0.0, sign = 1.0;
            if (std::isnan(value)) {
                row = P;  // a first-order operand whose ray failed
                sign = 0.0;
            } else if (op.kind == TOperandKind::minThickness || op.kind == TOperandKind::minEdgeThickness) {
                row = std::max(0.0, op.target - value);
                sign = row > 0.0 ? -1.0 : 0.0;
            } else if (op.kind == TOperandKind::maxThickness) {
                row = std::max(0.0, value - op.target);
                sign = row > 0.0 ? 1.0 : 0.0;
            } else {
                row = value - op.target;
            }
            out.residuals.push_back(sw * row);
            if (withJacobian)
                for (std::size_t c = 0; c < nv; ++c) jac.push_back(sw * sign * grad[c]);
        } else {
            for (std::size_t row = 0; row < u.size(); ++row) {
                out.residuals.push_back(sw * u[row]);
                if (withJacobian)
                    for (std::size_t c = 0; c < nv; ++c) jac.push_back(sw * du[row * nv + c]);
            }
        }
        double sum = 0.0;
        for (std::size_t row = out.rowBegin.back(); row < out.residuals.size(); ++row)
            sum += out.residuals[row] * out.residuals[row];
        out.contributions[o] = sum;
        out.merit += sum;
    }
    out.rowBegin.push_back(out.residuals.size());
    out.rows = out.residuals.size();

    if (withJacobian) {
        out.jacobian = std::move(jac);
        // Columns the trace cannot carry, by central differences.
        for (std::size_t m = 0; m < nv; ++m) {
            if (out.methods[m] == TDerivativeMethod::exact) continue;
            const double h = stepFor(variables[m], current[m], relativeStep, beamRadius);
            std::vector<double> shifted = current;
            shifted[m] = current[m] + h;
            setValues(shifted);
            TEvaluation plus = evaluateAt(false, false, relativeStep);
            shifted[m] = current[m] - h;
            setValues(shifted);
            TEvaluation minus = evaluateAt(false, false, relativeStep);
            setValues(current);
            for (std::size_t row = 0; row < out.rows; ++row)
                out.jacobian[row * nv + m] = (plus.residuals[row] - minus.residuals[row]) / (2.0 * h);
            for (std::size_t o = 0; o < operands.size(); ++o) {
                const double a = plus.values[o], b = minus.values[o];
                out.valueGradients[o * nv + m] = std::isfinite(a) && std::isfinite(b) ? (a - b) / (2.0 * h) : 0.0;
            }
        }
    }
    return out;
}

std::string TMeritFunction::operandLabel(std::size_t o) const {
    if (o >= operands.size()) throw xmsg("TMeritFunction: no operand " + std::to_string(o));
    const TOperand& op = operands[o];
    if (!lens) return operandName(op);
    std::ostringstream os;
    os << std::setprecision(4);
    const auto wavelength = [&] {
        if (op.configuration >= 0 && op.configuration < configurations())
            os << " " << lens->um[static_cast<std::size_t>(op.configuration)] << " um";
    };
    switch (op.kind) {
        case TOperandKind::rmsSpot:
            os << "rms spot" << (op.aboutChief ? " about chief" : "") << " field " << op.field;
            wavelength();
            break;
        case TOperandKind::rayError:
            os << "ray error (" << op.pupil.x << ", " << op.pupil.y << ") field " << op.field;
            wavelength();
            break;
        case TOperandKind::efl: os << "efl"; wavelength(); break;
        case TOperandKind::bfl: os << "bfl"; wavelength(); break;
        case TOperandKind::fNumber: os << "f-number"; wavelength(); break;
        case TOperandKind::imageHeight:
            os << "image height field " << op.field;
            wavelength();
            break;
        default: return operandName(op);
    }
    return os.str();
}

TPrescriptionResult optimizePrescription(TMeritFunction& merit, const TOptimizeOptions& options) {
    if (!merit.hasPrescription())
        throw xmsg("optimizePrescription: the merit function was not made from a prescription");
    TPrescriptionResult out;
    static_cast<TOptimizeResult&>(out) = optimize(merit, options);
    out.prescription = merit.prescription();
    return out;
}

std::string meritTable(const TMeritFunction& merit, const TOptimizeResult& r) {
    std::size_t width = 7;
    for (std::size_t o = 0; o < merit.operands.size(); ++o)
        width = std::max(width, merit.operandLabel(o).size());
    std::ostringstream os;
    const auto cell = [&](double v) {
        std::ostringstream c;
        c << std::setprecision(6) << v;
        os << "  " << std::setw(12) << c.str();
    };
    os << std::left << std::setw(static_cast<int>(width)) << "operand" << std::right;
    for (const char* head : {"target", "value", "weight", "before", "after"})
        os << "  " << std::setw(12) << head;
    os << "\n";
    for (std::size_t o = 0; o < merit.operands.size(); ++o) {
        const TOperand& op = merit.operands[o];
        os << std::left << std::setw(static_cast<int>(width)) << merit.operandLabel(o) << std::right;
        cell(op.target);
        cell(o < r.after.values.size() ? r.after.values[o] : kNaN);
        cell(op.weight);
        cell(o < r.before.contributions.size() ? r.before.contributions[o] : kNaN);
        cell(o < r.after.contributions.size() ? r.after.contributions[o] : kNaN);
        os << "\n";
    }
    os << std::left << std::setw(static_cast<int>(width)) << "merit" << std::right;
    for (int i = 0; i < 3; ++i) os << "  " << std::setw(12) << "";
    cell(r.before.merit);
    cell(r.after.merit);
    os << "\n";
    return os.str();
}

TSensitivities sensitivities(TMeritFunction& merit) {
    const TEvaluation e = merit.evaluate(true);
    TSensitivities s;
    for (const TDesignVariable& v : merit.variables) s.variables.push_back(variableName(v));
    for (const TOperand& op : merit.operands) s.operands.push_back(operandName(op));
    s.merit.assign(e.columns, 0.0);
    // d(Σ r²)/dθ = 2·Σ r·∂r/∂θ.
    for (std::size_t row = 0; row < e.rows; ++row)
        for (std::size_t c = 0; c < e.columns; ++c)
            s.merit[c] += 2.0 * e.residuals[row] * e.jacobian[row * e.columns + c];
    s.operandValues = e.valueGradients;
    s.methods = e.methods;
    return s;
}

}  // namespace lumivex
