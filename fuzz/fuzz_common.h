// SPDX-License-Identifier: Apache-2.0
// What the fuzz targets share: the rules every input must keep, and the
// building of rays and systems from the fuzzer's bytes with their work
// bounded (a gradient-index rod may legitimately take millions of steps, so
// rods are kept short and their profiles tame here).
#ifndef LUMIVEX_FUZZ_COMMON_H
#define LUMIVEX_FUZZ_COMMON_H

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "lumivex/field.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"
#include "tests/beam_invariants.h"

namespace fuzz {

using namespace lumivex;

// A finding: say what and abort, so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "lumivex fuzz finding: %s\n", what);
    std::abort();
}

inline bool isNumber(const TVector& v) {
    return !std::isnan(v.x) && !std::isnan(v.y) && !std::isnan(v.z);
}

inline bool isNumber(const TBeamNode& n) {
    return isNumber(n.position) && isNumber(n.kVector) && isNumber(n.polarization) &&
           !std::isnan(n.intensity) && !std::isnan(n.opticalPath);
}

// After a conversion or a trace that did not throw, no node from `first` on
// may hold a NaN. Nodes traced from node 0 (first ≥ 1) through media of
// positive index (`laws`) also keep the physical laws of every traced beam:
// finite, unit directions, no power gained or negative, no optical path run
// backwards.
inline void checkNodes(const TBeam& beam, int first, bool laws = true) {
    for (int i = first; i < beam.getSize(); ++i)
        if (!isNumber(beam[i])) fail("a NaN in a traced node without an xmsg");
    if (first < 1 || !laws) return;
    const std::string broken = invariants::violation(beam, first);
    if (!broken.empty()) {
        std::fprintf(stderr, "%s\n", broken.c_str());
        fail("a traced beam breaks a physical law without an xmsg");
    }
}

inline double number(FuzzedDataProvider& data, double low, double high) {
    return data.ConsumeFloatingPointInRange<double>(low, high);
}

inline TVector vector(FuzzedDataProvider& data, double bound) {
    const double x = number(data, -bound, bound);
    const double y = number(data, -bound, bound);
    const double z = number(data, -bound, bound);
    return {x, y, z};
}

// A ray start ahead of the system: any point, a direction mostly forward
// (sometimes sloppy, sideways or backward), any field including none.
inline TBeamNode startNode(FuzzedDataProvider& data) {
    const TVector position(number(data, -20, 20), number(data, -20, 20), number(data, -30, 0));
    TVector k;
    switch (data.ConsumeIntegralInRange(0, 3)) {
        case 0:
            k = TVector(0, 0, 1);
            break;
        case 1:
            k = TVector(number(data, -1, 1), number(data, -1, 1), 1.0).unit();
            break;
        case 2:
            k = vector(data, 2.0);
            break;  // not unit, any way
        default:
            k = TVector(number(data, -0.2, 0.2), number(data, -0.2, 0.2), 1.0);
            break;
    }
    const TVector E = data.ConsumeBool() ? TVector(1, 0, 0) : vector(data, 2.0);
    const double intensity = number(data, 0.0, 2.0);
    const double phase = number(data, -100.0, 100.0);
    return TBeamNode(position, k, intensity, E, phase);
}

inline complex index(FuzzedDataProvider& data) {
    return complex(number(data, 0.2, 4.0), number(data, -0.1, 0.1));
}

inline TMatrix* table(FuzzedDataProvider& data, int columns, int rows) {
    auto matrix = std::make_unique<TMatrix>(columns, rows);
    for (std::size_t i = 0; i < matrix->size(); ++i)
        matrix->data[i] = complex(number(data, -2.0, 2.0), 0.0);
    return matrix.release();
}

// One element of any kind at axial position z; null where a constructor
// refuses the parameters (its xmsg is the right answer).
inline std::unique_ptr<TElement> element(FuzzedDataProvider& data, double z, bool& isRod) {
    isRod = false;
    const complex n = index(data);
    const double modulus = data.ConsumeBool() ? 0.0 : number(data, -2.0, 2.0);
    try {
        switch (data.ConsumeIntegralInRange(0, 11)) {
            case 0:
                return std::make_unique<TSlab>(z, n);
            case 1: {
                auto s = std::make_unique<TPolynomialSurface>(z, n, modulus);
                std::vector<double> c(data.ConsumeIntegralInRange(0, 7));
                double scale = 1.0;  // higher powers get smaller coefficients
                for (double& v : c) {
                    v = number(data, -scale, scale);
                    scale *= 0.1;
                }
                s->setCoefficients(c);
                return s;
            }
            case 2: {
                const int nx = data.ConsumeIntegralInRange(0, 4);
                const int ny = data.ConsumeIntegralInRange(0, 4);
                auto s = std::make_unique<TPolynomialXYSurface>(z, n, modulus, nx, ny);
                for (int i = 0; i < nx; ++i)
                    for (int j = 0; j < ny; ++j) s->setCoefficient(i, j, number(data, -0.1, 0.1));
                return s;
            }
            case 3:
                return std::make_unique<TSphericalLens>(z, n, modulus, number(data, -100, 100));
            case 4:
                return std::make_unique<TEllipticalLens>(z, n, modulus, number(data, -50, 50),
                                                         number(data, -50, 50));
            case 5:
                return std::make_unique<THyperbolicLens>(z, n, modulus, number(data, -50, 50),
                                                         number(data, -50, 50));
            case 6:
                return std::make_unique<TFresnelLens>(z, n, modulus, number(data, -3, 3),
                                                      number(data, -100, 100));
            case 7:
                return std::make_unique<TGeneralLens>(z, n, modulus, number(data, -100, 100),
                                                      number(data, -5, 5));
            case 8:
                return std::make_unique<TLens>(z, n, modulus, number(data, -3, 3),
                                               number(data, -200, 200));
            case 9: {
                const int columns = data.ConsumeIntegralInRange(1, 8);
                const int rows = data.ConsumeIntegralInRange(1, 8);
                const double dx = number(data, -1.0, 5.0), dy = number(data, -1.0, 5.0);
                return std::make_unique<TMatrixSurface>(z, n, dx, dy, table(data, columns, rows));
            }
            case 10:
                return std::make_unique<TMatrixLens>(
                    z, n, number(data, -100, 100), number(data, -5, 5), modulus,
                    data.ConsumeIntegralInRange(-1, 24), data.ConsumeIntegralInRange(-1, 24),
                    number(data, -1.0, 3.0), number(data, -1.0, 3.0));
            default:
                // Short rods of a falling profile: the work per ray stays at
                // thousands of steps, not millions.
                isRod = true;
                return std::make_unique<TGrinRod>(z, number(data, 1.0, 2.5), number(data, 0.0, 0.5),
                                                  number(data, -1.0, 0.0), number(data, -1.0, 0.0));
        }
    } catch (const xmsg&) {
        return nullptr;
    }
}

}  // namespace fuzz

#endif
