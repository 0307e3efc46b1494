// SPDX-License-Identifier: Apache-2.0
// First-order optics of a prescription and ray aiming.
//
// The paraxial data come from y–nu traces through the surfaces' vertex
// curvatures: at a surface n′u′ = n·u − y·c·(n′ − n), between surfaces
// y += t·u′. The map from a ray's height and slope at the first surface to
// its height at the stop is linear, y_s = a·y + b·u, so two rays, (1, 0) and
// (0, 1), give the entrance pupil (where rays through the stop's centre cross
// the axis in object space, z₀ + b/a) and the stop's size for a given
// aperture.
#include <algorithm>
#include <cmath>

#include "lumivex/grin.h"
#include "lumivex/prescription.h"
#include "lumivex/surfaces.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;

struct TParaxialSurface {
    double z;
    double c;       // vertex curvature
    double n;       // index in front
    double nAfter;  // index behind
};

// The vertex curvature of a surface. Conics and even aspheres in closed
// form; other height functions from the slope a hair off the axis, where
// h′(δ)/δ is the curvature to O(δ²).
double vertexCurvature(const TElement& e, int k) {
    if (dynamic_cast<const TSlab*>(&e)) return 0.0;
    if (auto* a = dynamic_cast<const TEvenAsphere*>(&e))
        return (a->curvatureRadius == 0.0 ? 0.0 : 1.0 / a->curvatureRadius) + 2.0 * a->getCoefficients()[0];
    if (auto* g = dynamic_cast<const TGeneralLens*>(&e))
        return g->curvatureRadius == 0.0 ? 0.0 : 1.0 / g->curvatureRadius;
    if (auto* s = dynamic_cast<const TSphericalLens*>(&e))
        return s->curvatureRadius == 0.0 ? 0.0 : 1.0 / s->curvatureRadius;
    if (auto* f = dynamic_cast<const TFunctionalSurface*>(&e)) {
        const double delta = 1e-6 * (e.radius > 0.0 ? e.radius : 1.0);
        return f->heightDerivative(TVector(delta, 0.0, 0.0)).x / delta;
    }
    throw xmsg("prescription: surface " + std::to_string(k) +
               " has no paraxial model (only refracting surfaces given by a height function do)");
}

std::vector<TParaxialSurface> paraxialModel(const TOpticalSystem& system) {
    std::vector<TParaxialSurface> model;
    for (int k = 0; k < system.getSize(); ++k) {
        const TElement& e = *system[k];
        TParaxialSurface s;
        s.z = e.zPosition;
        s.c = vertexCurvature(e, k);
        s.n = e.getRefIndex(TVector(0.0, 0.0, e.zPosition), 0.0).real();
        s.nAfter = k + 1 < system.getSize()
                       ? system[k + 1]->getRefIndex(TVector(0.0, 0.0, e.zPosition), 0.0).real()
                       : 1.0;
        model.push_back(s);
    }
    return model;
}

// A paraxial ray: its height at surface k (before refracting there) and its
// slope behind the last surface it was traced through.
struct TYnu {
    std::vector<double> y;  // height at each surface
    double u = 0.0;         // slope behind the last surface traced
};

// Traces a ray of height y0 at the first surface and slope u0 in object
// space through surfaces 0 … last.
TYnu trace(const std::vector<TParaxialSurface>& m, double y0, double u0, std::size_t last) {
    TYnu r;
    double y = y0;
    double u = u0;
    for (std::size_t k = 0; k <= last && k < m.size(); ++k) {
        if (k > 0) y += (m[k].z - m[k - 1].z) * u;
        r.y.push_back(y);
        const double nu = m[k].n * u - y * m[k].c * (m[k].nAfter - m[k].n);
        u = nu / m[k].nAfter;
    }
    r.u = u;
    return r;
}

struct TStopMap {
    double a, b;  // y at the stop = a·y₀ + b·u₀
};

TStopMap stopMap(const std::vector<TParaxialSurface>& m, int stop) {
    const auto s = static_cast<std::size_t>(stop);
    return {trace(m, 1.0, 0.0, s).y[s], trace(m, 0.0, 1.0, s).y[s]};
}

}  // namespace

TFirstOrder TPrescription::firstOrder(double um) const {
    validate();
    um = resolveWavelength(um);
    const bool infinite = std::isinf(objectDistance);
    const double d = objectDistance;  // object plane to the first vertex
    const double nObject = objectMaterial.indexAt(um).real();

    // The stop's size is fixed by the aperture at the primary wavelength;
    // at other wavelengths the pupils follow from that stop.
    const double primaryUm = primaryWavelength();
    const std::vector<TParaxialSurface> mp = paraxialModel(systemAt(primaryUm));
    const TStopMap sp = stopMap(mp, stop);
    const std::size_t last = mp.size() - 1;
    const double gain = infinite ? sp.a : sp.a * d + sp.b;  // stop height per unit object-space unknown
    if (gain == 0.0 || !std::isfinite(gain))
        throw xmsg(infinite ? "prescription: the stop is imaged to infinity in object space, so an "
                              "object at infinity has no entrance pupil"
                            : "prescription: the stop is conjugate to the object, so no axial ray "
                              "reaches its rim");
    double stopSemi = 0.0;
    const double zEPp = mp[0].z + sp.b / sp.a;
    switch (aperture.kind) {
        case TApertureKind::entrancePupilDiameter:
            if (infinite)
                stopSemi = std::abs(sp.a) * aperture.value / 2;
            else
                stopSemi = std::abs(gain * (aperture.value / 2) / (zEPp - objectZ()));
            break;
        case TApertureKind::imageFNumber: {
            // The marginal ray's image-space slope per unit unknown.
            const double uImage = infinite ? trace(mp, 1.0, 0.0, last).u : trace(mp, d, 1.0, last).u;
            if (uImage == 0.0)
                throw xmsg("prescription: the system is afocal, so it has no image-space F-number");
            stopSemi = std::abs(gain / (2.0 * 1.0 * aperture.value * uImage));
            break;
        }
        case TApertureKind::objectNA: {
            const double u = std::tan(std::asin(aperture.value / nObject));
            stopSemi = std::abs(gain * u);
            break;
        }
        case TApertureKind::stopSemiDiameter: stopSemi = aperture.value; break;
    }

    const std::vector<TParaxialSurface> m = um == primaryUm ? mp : paraxialModel(systemAt(um));
    const TStopMap sm = um == primaryUm ? sp : stopMap(m, stop);
    TFirstOrder f;
    f.wavelengthUm = um;
    f.stopSemiDiameter = stopSemi;
    f.objectZ = objectZ();
    if (sm.a == 0.0)
        throw xmsg("prescription: the stop is imaged to infinity in object space at " + std::to_string(um) +
                   " um");
    f.entrancePupilZ = m[0].z + sm.b / sm.a;

    // The axial marginal ray through the stop's rim.
    double y0, u0;
    if (infinite) {
        y0 = stopSemi / sm.a;
        u0 = 0.0;
    } else {
        u0 = stopSemi / (sm.a * d + sm.b);
        y0 = d * u0;
    }
    if (u0 < 0.0 || (u0 == 0.0 && y0 < 0.0)) {
        y0 = -y0;
        u0 = -u0;
    }
    f.entrancePupilDiameter =
        2.0 * std::abs(infinite ? y0 : (f.entrancePupilZ - f.objectZ) * u0);
    const TYnu marginal = trace(m, y0, u0, last);
    const double zLast = m[last].z;
    const double yLast = marginal.y[last];
    f.paraxialImageZ = marginal.u == 0.0 ? std::numeric_limits<double>::infinity()
                                         : zLast - yLast / marginal.u;
    f.fNumber = marginal.u == 0.0 ? std::numeric_limits<double>::infinity()
                                  : 1.0 / (2.0 * 1.0 * std::abs(marginal.u));
    const double uParallel = trace(m, 1.0, 0.0, last).u;
    f.efl = uParallel == 0.0 ? std::numeric_limits<double>::infinity() : -1.0 / uParallel;
    if (!infinite) {
        f.objectNA = nObject * std::sin(std::atan(u0));
        f.magnification = marginal.u == 0.0 ? 0.0 : nObject * u0 / (1.0 * marginal.u);
    }
    // The stop's centre imaged into image space: a ray through it, b·(1,0) −
    // a·(0,1) by linearity.
    const TYnu a = trace(m, 1.0, 0.0, last);
    const TYnu b = trace(m, 0.0, 1.0, last);
    const double yC = sm.b * a.y[last] - sm.a * b.y[last];
    const double uC = sm.b * a.u - sm.a * b.u;
    if (uC == 0.0) {
        f.exitPupilZ = std::numeric_limits<double>::infinity();
        f.exitPupilDiameter = std::numeric_limits<double>::infinity();
    } else {
        f.exitPupilZ = zLast - yC / uC;
        f.exitPupilDiameter = 2.0 * std::abs(yLast + (f.exitPupilZ - zLast) * marginal.u);
    }
    return f;
}

std::vector<double> TPrescription::paraxialSemiDiameters() const {
    const TFirstOrder f = firstOrder();
    const std::vector<TParaxialSurface> m = paraxialModel(systemAt(f.wavelengthUm));
    const std::size_t last = m.size() - 1;
    const bool infinite = std::isinf(objectDistance);
    const double d = objectDistance;
    // The axial marginal ray: parallel at the pupil's rim, or from the axial
    // object point through it.
    const double rEP = f.entrancePupilDiameter / 2;
    const TYnu marginal = infinite ? trace(m, rEP, 0.0, last)
                                   : trace(m, d * rEP / (f.entrancePupilZ - f.objectZ),
                                           rEP / (f.entrancePupilZ - f.objectZ), last);
    // The chief ray of the largest field, through the entrance pupil's centre.
    double largest = 0.0;
    for (const TField& field : fields) {
        double slope = 0.0;
        if (fieldKind == TFieldKind::angle)
            slope = std::tan(std::hypot(field.x, field.y) * kPi / 180.0);
        else
            slope = std::hypot(field.x, field.y) / (f.entrancePupilZ - f.objectZ);
        largest = std::max(largest, slope);
    }
    const TYnu chief = trace(m, (m[0].z - f.entrancePupilZ) * largest, largest, last);
    std::vector<double> semi(m.size());
    for (std::size_t k = 0; k < m.size(); ++k) semi[k] = std::abs(marginal.y[k]) + std::abs(chief.y[k]);
    return semi;
}

// ---------------------------------------------------------------------------
// Ray aiming

namespace {

// Traces a ray up to the stop surface; false, with the reason, when it fails
// before or at the stop.
bool crossStop(TOpticalSystem& system, int stop, double wavelength, const TVector& p,
               const TVector& k, TVector& hit, std::string& message) {
    TBeam beam(wavelength);
    TVector pol = TVector(1.0, 0.0, 0.0) - k * k.x;
    if (pol.length() < 1e-6) pol = TVector(0.0, 1.0, 0.0) - k * k.y;
    beam.addNode(TBeamNode(p, k, 1.0, pol.unit(), 0.0));
    const TElement plain;
    try {
        for (int i = 0; i <= stop; ++i) {
            const TElement* next = i + 1 < system.getSize() ? system[i + 1] : &plain;
            system[i]->traceBeam(beam, *next);
        }
    } catch (const xmsg& e) {
        message = "surface " + std::to_string(beam.getSize() - 1) + ": " + e.message();
        const std::size_t cut = message.find('\n');
        if (cut != std::string::npos) message.resize(cut);
        return false;
    }
    hit = beam.getLast().position;
    if (!std::isfinite(hit.x) || !std::isfinite(hit.y)) {
        message = "the ray does not reach the stop";
        return false;
    }
    return true;
}

}  // namespace

std::vector<TAimedRay> TPrescription::rays(int field, const std::vector<std::pair<double, double>>& pupil,
                                           double um) const {
    return rays(field, pupil, um, aiming);
}

std::vector<TAimedRay> TPrescription::rays(int field, const std::vector<std::pair<double, double>>& pupil,
                                           double um, TAiming how) const {
    validate();
    if (field < 0 || field >= static_cast<int>(fields.size()))
        throw xmsg("prescription: field " + std::to_string(field) + " is not one of the " +
                   std::to_string(fields.size()) + " fields");
    um = resolveWavelength(um);
    const TFirstOrder f = firstOrder(um);
    TOpticalSystem system = systemAt(um);
    const double wavelength = wavelengthInLensUnit(um);
    const bool infinite = std::isinf(objectDistance);
    const TField& fp = fields[static_cast<std::size_t>(field)];
    const double zEP = f.entrancePupilZ;
    const double rEP = f.entrancePupilDiameter / 2;
    const double z0 = infinite ? startZ() : f.objectZ;

    // The field at a fraction t of its full value: for an object at infinity
    // the direction (tan θx, tan θy, 1), for a finite one the object point.
    const double tx = fieldKind == TFieldKind::angle ? std::tan(fp.x * kPi / 180.0) : 0.0;
    const double ty = fieldKind == TFieldKind::angle ? std::tan(fp.y * kPi / 180.0) : 0.0;
    double hx = fp.x, hy = fp.y;  // object heights
    if (!infinite && fieldKind == TFieldKind::angle) {
        // The object point whose chief ray, aimed at the entrance pupil's
        // centre, leaves it at the field angle.
        hx = -(zEP - z0) * tx;
        hy = -(zEP - z0) * ty;
    }
    // The unknowns v: for an object at infinity the ray's point in the start
    // plane, for a finite object its slopes (dx/dz, dy/dz).
    auto makeRay = [&](double vx, double vy, double t, TVector& p, TVector& k) {
        if (infinite) {
            p = TVector(vx, vy, z0);
            k = TVector(t * tx, t * ty, 1.0).unit();
        } else {
            p = TVector(t * hx, t * hy, z0);
            k = TVector(vx, vy, 1.0).unit();
        }
    };
    // The paraxial guess: straight at the pupil point in the entrance pupil.
    auto guess = [&](double px, double py, double t, double& vx, double& vy) {
        const double ex = px * rEP, ey = py * rEP;
        if (infinite) {
            vx = ex - (zEP - z0) * t * tx;
            vy = ey - (zEP - z0) * t * ty;
        } else {
            vx = (ex - t * hx) / (zEP - z0);
            vy = (ey - t * hy) / (zEP - z0);
        }
    };

    const double stopSemi = f.stopSemiDiameter;
    const double tolerance = 1e-11 * stopSemi;
    const double accept = 1e-9 * stopSemi;
    // Newton's method on the stop crossing, the Jacobian by differences.
    auto solve = [&](double px, double py, double t, double& vx, double& vy,
                     std::string& message) -> bool {
        const double targetX = px * stopSemi, targetY = py * stopSemi;
        TVector p, k, hit;
        makeRay(vx, vy, t, p, k);
        if (!crossStop(system, stop, wavelength, p, k, hit, message)) return false;
        double rx = hit.x - targetX, ry = hit.y - targetY;
        const double h = infinite ? 1e-7 * std::max(rEP, 1e-6) : 1e-7;
        for (int iteration = 0; iteration < 50; ++iteration) {
            if (std::hypot(rx, ry) <= tolerance) return true;
            TVector hx1, hy1;
            makeRay(vx + h, vy, t, p, k);
            if (!crossStop(system, stop, wavelength, p, k, hx1, message)) return false;
            makeRay(vx, vy + h, t, p, k);
            if (!crossStop(system, stop, wavelength, p, k, hy1, message)) return false;
            const double j11 = (hx1.x - hit.x) / h, j21 = (hx1.y - hit.y) / h;
            const double j12 = (hy1.x - hit.x) / h, j22 = (hy1.y - hit.y) / h;
            const double det = j11 * j22 - j12 * j21;
            if (det == 0.0 || !std::isfinite(det)) {
                message = "the stop crossing does not depend on the ray's aim";
                return false;
            }
            double dx = -(j22 * rx - j12 * ry) / det;
            double dy = -(-j21 * rx + j11 * ry) / det;
            // Halve the step while the trial ray fails or lands farther away.
            bool moved = false;
            for (int halving = 0; halving < 30; ++halving) {
                TVector trial;
                std::string why;
                makeRay(vx + dx, vy + dy, t, p, k);
                if (crossStop(system, stop, wavelength, p, k, trial, why)) {
                    const double nx = trial.x - targetX, ny = trial.y - targetY;
                    if (std::hypot(nx, ny) < std::hypot(rx, ry)) {
                        vx += dx;
                        vy += dy;
                        hit = trial;
                        rx = nx;
                        ry = ny;
                        moved = true;
                        break;
                    }
                }
                dx /= 2;
                dy /= 2;
            }
            if (!moved) break;
        }
        if (std::hypot(rx, ry) <= accept) return true;
        message = "the ray cannot be aimed at the stop point (" + std::to_string(targetX) + ", " +
                  std::to_string(targetY) + "): it stays " + std::to_string(std::hypot(rx, ry)) +
                  " away";
        return false;
    };

    std::vector<TAimedRay> out;
    out.reserve(pupil.size());
    for (const auto& point : pupil) {
        const double px = point.first, py = point.second;
        TAimedRay ray;
        if (!std::isfinite(px) || !std::isfinite(py)) {
            ray.message = "the pupil point is not finite";
            out.push_back(ray);
            continue;
        }
        double vx, vy;
        guess(px, py, 1.0, vx, vy);
        if (how == TAiming::paraxial) {
            makeRay(vx, vy, 1.0, ray.position, ray.direction);
            ray.ok = true;
            out.push_back(ray);
            continue;
        }
        std::string message;
        bool ok = solve(px, py, 1.0, vx, vy, message);
        if (!ok) {
            // Wide fields: follow the solution out from the axis, each
            // fraction of the field starting from the last one solved.
            double t = 0.0, step = 0.25;
            guess(px, py, 0.0, vx, vy);
            ok = solve(px, py, 0.0, vx, vy, message);
            while (ok && t < 1.0 && step > 1e-3) {
                const double next = std::min(1.0, t + step);
                double wx = vx, wy = vy;
                std::string why;
                if (solve(px, py, next, wx, wy, why)) {
                    t = next;
                    vx = wx;
                    vy = wy;
                } else {
                    step /= 2;
                    message = why;
                }
            }
            ok = ok && t == 1.0;
        }
        if (ok) {
            makeRay(vx, vy, 1.0, ray.position, ray.direction);
            ray.ok = true;
        } else {
            ray.message = "field " + std::to_string(field) + ", pupil (" + std::to_string(px) + ", " +
                          std::to_string(py) + "): " + message;
        }
        out.push_back(ray);
    }
    return out;
}

}  // namespace lumivex
