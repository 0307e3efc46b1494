// The merit function: operands measured on rays traced with tangents, their
// residuals, and the Jacobian, exact where the trace carries tangents and by
// central differences where it does not.
#include <algorithm>
#include <cmath>
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
};

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
    for (std::size_t q = 0; q < systems.size(); ++q) {
        TOpticalSystem& s = *systems[q];
        const int n = s.getSize();
        for (int i = 0; i < n; ++i) detail::restoreState(*s[i], base[q][static_cast<std::size_t>(i)]);
        // Every value applies to the design as first seen; an unchanged one
        // leaves its element alone, so the first values restore every bit.
        std::vector<double> shift(static_cast<std::size_t>(n), 0.0);
        for (std::size_t m = 0; m < variables.size(); ++m) {
            const TDesignVariable& v = variables[m];
            const double was = variableValue(s, v);
            if (!std::isfinite(values[m]))
                throw xmsg(variableName(v) + ": the value is not finite");
            if (values[m] == was) continue;
            if (v.kind == TVariableKind::thickness) {
                for (int j = v.element + 1; j < n; ++j) shift[static_cast<std::size_t>(j)] += values[m] - was;
            } else {
                detail::setShape(s, v, values[m]);
            }
        }
        for (int j = 0; j < n; ++j)
            if (shift[static_cast<std::size_t>(j)] != 0.0) s[j]->zPosition += shift[static_cast<std::size_t>(j)];
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

    // The tangent plan of each configuration.
    std::vector<std::vector<ElementTangents>> plans(systems.size());
    bool anyOther = false;
    for (std::size_t q = 0; q < systems.size(); ++q) {
        const TOpticalSystem& s = *systems[q];
        plans[q].resize(static_cast<std::size_t>(n));
        for (int j = 0; j < n; ++j) {
            ElementTangents& e = plans[q][static_cast<std::size_t>(j)];
            e.shape = detail::tangentShape(*s[j], &e.sag);
            e.surface = dynamic_cast<const TSurface*>(s[j]);
            anyOther = anyOther || e.shape == TangentShape::other;
            for (std::size_t m = 0; m < nv; ++m) {
                const TDesignVariable& v = variables[m];
                if (v.kind == TVariableKind::thickness) {
                    if (v.element < j) e.shifted.push_back(static_cast<int>(m));
                } else if (v.element == j) {
                    e.reshaped.push_back({static_cast<int>(m), v.kind, v.term});
                }
            }
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
        if (!(std::fabs(op.fieldAngle) < kHalfPi))
            throw xmsg(operandName(op) + ": the field angle must lie within ±90 degrees");
        TCollimatedBeam b = beam;
        b.fieldAngle = op.fieldAngle;
        const auto add = [&](double x, double y) {
            jobs.push_back({op.configuration, startNode(s, b, {x, y})});
        };
        switch (op.kind) {
            case TOperandKind::rmsSpot:
                if (op.rays < 1) throw xmsg(operandName(op) + ": it needs at least one ray");
                // Ray 0, the pattern's centre, is the chief ray.
                for (const TPupilPoint& p : hexapolar(beamRadius, ringsFor(op.rays))) add(p.x, p.y);
                break;
            case TOperandKind::rayError:
                add(0.0, 0.0);
                add(op.pupil.x * beamRadius, op.pupil.y * beamRadius);
                break;
            case TOperandKind::efl:
            case TOperandKind::bfl:
            case TOperandKind::fNumber:
            case TOperandKind::imageHeight:
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
    }

    // Trace them with tangents on every core (on the calling thread alone
    // when an element is traced by its own traceBeam, which writes state).
    const std::size_t J = jobs.size();
    std::vector<TangentRay> rays(J);
    const std::size_t stride = withJacobian ? nv : 0;
    std::vector<TVector> dP(J * stride + 1), dK(J * stride + 1);
    {
        unsigned count = threads > 0 ? static_cast<unsigned>(threads) : std::thread::hardware_concurrency();
        if (count == 0 || anyOther) count = 1;
        count = static_cast<unsigned>(std::min<std::size_t>(count, std::max<std::size_t>(J / 64, 1)));
        const auto work = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                const std::size_t q = static_cast<std::size_t>(jobs[i].configuration);
                rays[i] = detail::traceTangents(*systems[q], plans[q], jobs[i].start, wavelengths[q],
                                                active, dP.data() + i * stride, dK.data() + i * stride);
            }
        };
        std::vector<std::thread> workers;
        for (unsigned t = 1; t < count; ++t)
            workers.emplace_back(work, J * t / count, J * (t + 1) / count);
        work(0, J / count);
        for (std::thread& w : workers) w.join();
    }

    const double P = std::isnan(penalty) ? beamRadius : penalty;
    if (!std::isfinite(P) || P < 0.0) throw xmsg("TMeritFunction: the penalty must be finite and at least 0");

    // Rows of each operand, unweighted (u) with their gradients (du), then
    // scaled by the weight's square root.
    std::vector<double> jac;
    out.values.assign(operands.size(), kNaN);
    out.contributions.assign(operands.size(), 0.0);
    out.valueGradients.assign(withJacobian ? operands.size() * nv : 0, 0.0);
    for (std::size_t o = 0; o < operands.size(); ++o) {
        const TOperand& op = operands[o];
        if (!(op.weight >= 0.0) || !std::isfinite(op.weight))
            throw xmsg(operandName(op) + ": the weight must be finite and at least 0");
        const double sw = std::sqrt(op.weight);
        const std::size_t j0 = firstJob[o];
        const TOpticalSystem& s = *systems[static_cast<std::size_t>(op.configuration)];
        std::vector<double> u, du;  // rows, and rows × nv gradients
        std::vector<double> grad(nv, 0.0);
        double value = kNaN;
        bool single = true;  // one row: sw·(value − target), one-sided for bounds
        const auto tangent = [&](std::size_t job, int v) -> const TVector& { return dP[job * nv + static_cast<std::size_t>(v)]; };
        const auto ktangent = [&](std::size_t job, int v) -> const TVector& { return dK[job * nv + static_cast<std::size_t>(v)]; };

        switch (op.kind) {
            case TOperandKind::rmsSpot: {
                const std::size_t N = hexapolar(1.0, ringsFor(op.rays)).size();
                const double norm = 1.0 / std::sqrt(static_cast<double>(N));
                double xr = 0.0, yr = 0.0;
                std::vector<double> dxr(nv, 0.0), dyr(nv, 0.0);
                int good = 0;
                for (std::size_t i = 0; i < N; ++i) good += rays[j0 + i].ok ? 1 : 0;
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
                u.assign(2 * N, 0.0);
                du.assign(2 * N * nv, 0.0);
                double sum = 0.0;
                for (std::size_t i = 0; i < N; ++i) {
                    const TangentRay& r = rays[j0 + i];
                    if (!referenced || !r.ok) {
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
                    if (variables[static_cast<std::size_t>(v)].kind == TVariableKind::thickness)
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
