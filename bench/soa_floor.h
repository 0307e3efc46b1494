// SPDX-License-Identifier: Apache-2.0
// The structure-of-arrays floor of the batch trace: the mathematics of the
// library's surfaces (closed-form sphere and plane hits, Snell's law, the
// Fresnel transmittance and the turn of the field), written as plain loops
// over arrays of rays with no branches, which the compiler turns into the
// widest vector code of the machine it builds for (soa_floor.cpp is
// compiled with -O3 -march=native). Rays go through all surfaces in blocks
// that stay in the cache, as the library's do.
#ifndef LUMIVEX_BENCH_SOA_FLOOR_H
#define LUMIVEX_BENCH_SOA_FLOOR_H

#include <cstddef>
#include <vector>

namespace bench {

// A surface of the floor: a plane at z0 (R = 0) or a sphere of signed radius
// R with its vertex at z0, from index n1 into n2.
struct SoaSurface {
    double z0, R, n1, n2;
};

// Rays as arrays; `ok` is 1 for a ray that went through every surface.
struct SoaRays {
    std::vector<double> px, py, pz, kx, ky, kz, ex, ey, ez, intensity, phase, ok;
    explicit SoaRays(std::size_t n)
        : px(n), py(n), pz(n), kx(n), ky(n), kz(n), ex(n), ey(n), ez(n), intensity(n), phase(n),
          ok(n) {}
    std::size_t size() const { return px.size(); }
};

// Traces the rays through the surfaces in place; raises optRadius[s] to the
// largest distance from the axis at surface s.
void traceSoa(SoaRays& rays, const std::vector<SoaSurface>& surfaces, double wavelength,
              double* optRadius);

// The instruction set the floor was compiled for.
const char* soaFloorTarget();

}  // namespace bench

#endif
