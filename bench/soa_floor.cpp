// SPDX-License-Identifier: Apache-2.0
// The structure-of-arrays floor; see soa_floor.h. Every loop body is free
// of branches and calls, so it vectorizes: failures are kept as a flag per
// ray and carried on as NaN.
#include "bench/soa_floor.h"

#include <algorithm>
#include <cmath>

namespace bench {

namespace {

constexpr std::size_t kBlock = 256;
constexpr double kPi = 3.141592653589793;

template <bool kSphere>
void surfaceBlock(double* __restrict px, double* __restrict py, double* __restrict pz,
                  double* __restrict kx, double* __restrict ky, double* __restrict kz,
                  double* __restrict ex, double* __restrict ey, double* __restrict ez,
                  double* __restrict intensity, double* __restrict phase, double* __restrict ok,
                  double* __restrict rho, std::size_t n, const SoaSurface& s,
                  double wavelength) {
    const double r = s.n1 / s.n2;
    const double phaseFactor = 2.0 * kPi * s.n1 / wavelength;
    const double zc = s.z0 + s.R;
    const double invR = kSphere ? 1.0 / s.R : 0.0;
    const double sign = s.R > 0.0 ? -1.0 : 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x0 = px[i], y0 = py[i], z0 = pz[i];
        const double ax = kx[i], ay = ky[i], az = kz[i];
        // The hit: the plane, or the sphere about (0, 0, zc) in closed form.
        double Px, Py, Pz, Nx, Ny, Nz, good = ok[i];
        if (kSphere) {
            const double ox = x0, oy = y0, oz = z0 - zc;
            const double b = ox * ax + oy * ay + oz * az;
            const double disc = b * b - (ox * ox + oy * oy + oz * oz - s.R * s.R);
            good = disc >= 0.0 ? good : 0.0;
            const double t = -b + sign * std::sqrt(disc);
            Px = x0 + ax * t;
            Py = y0 + ay * t;
            Pz = z0 + az * t;
            Nx = -Px * invR;
            Ny = -Py * invR;
            Nz = (zc - Pz) * invR;
        } else {
            const double t = (s.z0 - z0) / az;
            Px = x0 + t * ax;
            Py = y0 + t * ay;
            Pz = z0 + t * az;
            Nx = 0.0;
            Ny = 0.0;
            Nz = 1.0;
        }
        // Snell's law.
        const double cosI = Nx * ax + Ny * ay + Nz * az;
        const double radicand = 1.0 - r * r * (1.0 - cosI * cosI);
        good = radicand >= 0.0 && cosI > 0.0 ? good : 0.0;
        const double g = r * cosI - std::sqrt(radicand);
        double Kx = ax * r - Nx * g, Ky = ay * r - Ny * g, Kz = az * r - Nz * g;
        const double kr = 1.0 / std::sqrt(Kx * Kx + Ky * Ky + Kz * Kz);
        Kx *= kr;
        Ky *= kr;
        Kz *= kr;
        // Transmittance from the cosines.
        const double cosR = Nx * Kx + Ny * Ky + Nz * Kz;
        double Ax = Ky * az - Kz * ay, Ay = Kz * ax - Kx * az, Az = Kx * ay - Ky * ax;
        const double lengthA = std::sqrt(Ax * Ax + Ay * Ay + Az * Az);
        const bool turned = lengthA > 0.0;
        const double ar = turned ? 1.0 / lengthA : 1.0;
        Ax *= ar;
        Ay *= ar;
        Az *= ar;
        const double Ex = ex[i], Ey = ey[i], Ez = ez[i];
        const double er = 1.0 / std::sqrt(Ex * Ex + Ey * Ey + Ez * Ez);
        const double a = (Ax * Ex + Ay * Ey + Az * Ez) * er;
        const double c1 = std::min(cosI, 1.0), c2 = std::min(cosR, 1.0);
        const double s1 = std::sqrt((1.0 - c1) * (1.0 + c1));
        const double s2 = std::sqrt((1.0 - c2) * (1.0 + c2));
        const double sinPhi = std::max(-1.0, std::min(a, 1.0));
        const double cos2Phi = (1.0 - sinPhi) * (1.0 + sinPhi);
        const double sinSum = s1 * c2 + c1 * s2;
        const double cosDifference = c1 * c2 + s1 * s2;
        const double Ts = 4.0 * s1 * c1 * s2 * c2 / (sinSum * sinSum);
        const double Tp = Ts / (cosDifference * cosDifference);
        const double m = s.n2 / s.n1;
        const double normalT = 4.0 * m / ((m + 1.0) * (m + 1.0));
        const double T = sinSum > 1e-4 ? cos2Phi * Tp + sinPhi * sinPhi * Ts : normalT;
        // The field turned with the ray.
        const double d = ax * Kx + ay * Ky + az * Kz;
        const double C = std::fabs(d) < 1.0 ? d : 1.0;
        const double S = std::fabs(d) < 1.0 ? std::sqrt((1.0 - d) * (1.0 + d)) : 0.0;
        const double t = 1.0 - C;
        double Fx = (Ax * Ax * t + C) * Ex + (Ax * Ay * t + Az * S) * Ey + (Ax * Az * t - Ay * S) * Ez;
        double Fy = (Ax * Ay * t - Az * S) * Ex + (Ay * Ay * t + C) * Ey + (Ay * Az * t + Ax * S) * Ez;
        double Fz = (Ax * Az * t + Ay * S) * Ex + (Ay * Az * t - Ax * S) * Ey + (Az * Az * t + C) * Ez;
        Fx = turned ? Fx : Ex;
        Fy = turned ? Fy : Ey;
        Fz = turned ? Fz : Ez;
        const double fr = 1.0 / std::sqrt(Fx * Fx + Fy * Fy + Fz * Fz);
        const double dx = Px - x0, dy = Py - y0, dz = Pz - z0;
        phase[i] += phaseFactor * std::sqrt(dx * dx + dy * dy + dz * dz);
        px[i] = Px;
        py[i] = Py;
        pz[i] = Pz;
        kx[i] = Kx;
        ky[i] = Ky;
        kz[i] = Kz;
        ex[i] = Fx * fr;
        ey[i] = Fy * fr;
        ez[i] = Fz * fr;
        intensity[i] *= T;
        ok[i] = good;
        rho[i] = good != 0.0 ? std::sqrt(Px * Px + Py * Py) : 0.0;
    }
}

}  // namespace

void traceSoa(SoaRays& rays, const std::vector<SoaSurface>& surfaces, double wavelength,
              double* optRadius) {
    double rho[kBlock];
    for (std::size_t b = 0; b < rays.size(); b += kBlock) {
        const std::size_t n = std::min(kBlock, rays.size() - b);
        for (std::size_t i = 0; i < n; ++i) rays.ok[b + i] = 1.0;
        for (std::size_t s = 0; s < surfaces.size(); ++s) {
            const auto block = surfaces[s].R != 0.0 ? surfaceBlock<true> : surfaceBlock<false>;
            block(&rays.px[b], &rays.py[b], &rays.pz[b], &rays.kx[b], &rays.ky[b],
                         &rays.kz[b], &rays.ex[b], &rays.ey[b], &rays.ez[b], &rays.intensity[b],
                         &rays.phase[b], &rays.ok[b], rho, n, surfaces[s], wavelength);
            double m = optRadius[s];
            for (std::size_t i = 0; i < n; ++i) m = std::max(m, rho[i]);
            optRadius[s] = m;
        }
    }
}

const char* soaFloorTarget() {
#if defined(__AVX512F__)
    return "AVX-512";
#elif defined(__AVX2__)
    return "AVX2";
#elif defined(__AVX__)
    return "AVX";
#else
    return "SSE2";
#endif
}

}  // namespace bench
