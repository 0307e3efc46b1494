// SPDX-License-Identifier: Apache-2.0
// The tracing routine shared by every refracting surface: intersection, the
// vector form of Snell's law, Fresnel power transmittance, the turn of the
// polarization with the ray and the optical phase of the segment.
#include <cmath>
#include <sstream>

#include "lumivex/surfaces.h"
#include "numeric/checked_math.h"
#include "system/element_checks.h"
#include "system/refraction.h"

namespace lumivex {

namespace {
constexpr double kPi = 3.141592653589793;
}  // namespace

TSurface::TSurface(double zPosition_, const complex& refIndex_)
    : TElement(zPosition_), refIndex(refIndex_) {
    detail::requireIndex("TSurface", "the refractive index", refIndex);
}

TSurface::~TSurface() = default;

void TSurface::traceBeam(TBeam& beam, const TElement& next) {
    const TBeamNode L = beam.getLast();
    const TVector& k = L.kVector;
    const TVector& E = L.polarization;

    // Whatever has been found when a failure strikes goes into its report.
    TVector P, N, K;
    double T = 0.0;
    TVector polarization;
    try {
        P = findSurfaceIntersection(L);
        const double n1 = getRefIndex(P, 0.0).real();
        const double n2 = next.getRefIndex(P, 0.0).real();
        N = getSurfaceNormal(P);
        if (!detail::meetsFromFront(k, N))
            throw xmsg("refraction: the ray meets the surface from behind");

        K = detail::refract(k, N, n1, n2);

        // Fresnel power transmittance for the field's s and p shares, and
        // the field turned with the ray, from the angles of incidence and
        // refraction (evaluated from their cosines, see refraction.h).
        detail::transmitAndTurn(k, K, N, E, n1, n2, T, polarization);

        const double rho = math::sqrt(P.x * P.x + P.y * P.y);
        if (rho > optRadius) optRadius = rho;
    } catch (const xmsg&) {
        beam.addNode(TBeamNode(P, TVector(), 0.0, TVector(), 0.0));
        std::ostringstream os;
        os << "Could not compute new k-Vector!\n"
           << '(' << k << ',' << K << ',' << N << ")\n"
           << k.dot(K) << ',' << N.dot(k) << ',' << N.dot(K) << '\n';
        throw xmsg(os.str());
    }

    // The segment from the last node to P runs through the medium in front.
    const double n = refIndex.real();
    const double opticalPath =
        L.opticalPath + 2.0 * kPi * n * (P - L.position).length() / beam.wavelength;
    beam.addNode(TBeamNode(P, K, L.intensity * T, polarization.unit(), opticalPath));
}

complex TSurface::getRefIndex(const TVector&, double) const { return refIndex; }

TVector TSurface::getSurfaceNormal(const TVector&) const { return {0.0, 0.0, 1.0}; }

void TSurface::getPolygon(TPolygon& polygon, bool reverse, double r) const {
    const double z0 = zPosition;
    if (reverse) {
        polygon.addPoint(TVector(r, 0.0, z0)).addPoint(TVector(-r, 0.0, z0));
    } else {
        polygon.addPoint(TVector(-r, 0.0, z0)).addPoint(TVector(r, 0.0, z0));
    }
}

}  // namespace lumivex
