// SPDX-License-Identifier: Apache-2.0
// A sampled field becomes a fan of beams: each beam starts in the plane z = 0
// with the field's intensity and unwrapped phase at its point, and its
// direction follows the local phase gradient, so the wavefront becomes the
// beams' starting directions.
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <sstream>
#include <string>

#include "lumivex/field.h"
#include "numeric/checked_math.h"

namespace lumivex {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Beams made from a field carry the He-Ne line, whatever wavelength shapes
// their directions.
constexpr double kBeamWavelength = 6.328e-7;

// The phase difference from b to a, wrapped into (−π, π]: the argument of the
// quotient a / b. Next to a zero sample there is no phase to follow, so the
// step is 0.
double phaseStep(const complex& a, const complex& b) {
    const complex zero(0.0, 0.0);
    if (a == zero || b == zero) return 0.0;
    const complex q = a / b;
    return math::atan2(q.imag(), q.real());
}

// Fills T (same size as S) with (intensity, unwrapped phase). Phases are the
// sums of wrapped steps between neighbours: along the middle column to the
// sample's row, then along that row. The middle sample has phase 0.
void unwrapField(const TMatrix& S, TMatrix& T) {
    const int W = S.columns;
    const int H = S.rows;
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c) {
            const complex& s = S.at(c, r);
            const double modulus = math::sqrt(s.real() * s.real() + s.imag() * s.imag());
            T.at(c, r) = complex(modulus * modulus, 0.0);
        }
    const int cc = W / 2;
    const int rc = H / 2;
    auto setPhase = [&T](int c, int r, double phase) { T.at(c, r).imag(phase); };
    auto phase = [&T](int c, int r) { return T.at(c, r).imag(); };

    for (int r = rc + 1; r <= H - 1; ++r)
        setPhase(cc, r, phase(cc, r - 1) + phaseStep(S.at(cc, r), S.at(cc, r - 1)));
    for (int r = rc - 1; r >= 0; --r)
        setPhase(cc, r, phase(cc, r + 1) + phaseStep(S.at(cc, r), S.at(cc, r + 1)));
    for (int r = 0; r < H; ++r) {
        for (int c = cc + 1; c <= W - 1; ++c)
            setPhase(c, r, phase(c - 1, r) + phaseStep(S.at(c, r), S.at(c - 1, r)));
        for (int c = cc - 1; c >= 0; --c)
            setPhase(c, r, phase(c + 1, r) + phaseStep(S.at(c, r), S.at(c + 1, r)));
    }
}

}  // namespace

void fieldToBeamFan(const TMatrix& field, const double dx, const double dy, const int nx,
                    const int ny, const double wavelength, TBeamFan& fan) {
    const int W = field.columns;
    const int H = field.rows;
    // Every beam reads the sample to its right, and the one above it when the
    // fan has more than one row.
    if (W < 2)
        throw xmsg("fieldToBeamFan: the field needs at least 2 columns, it has " +
                   std::to_string(W));
    if (H < 1) throw xmsg("fieldToBeamFan: the field has no rows");
    if (!field.data) throw xmsg("fieldToBeamFan: the field has no samples");
    if (!std::isfinite(dx) || !std::isfinite(dy)) {
        std::ostringstream os;
        os << "fieldToBeamFan: the sample spacing must be finite, not dx " << dx << " and dy " << dy;
        throw xmsg(os.str());
    }
    if (ny >= 2 && H < 2)
        throw xmsg("fieldToBeamFan: a fan of " + std::to_string(ny) +
                   " beam rows needs a field of at least 2 rows, it has " + std::to_string(H));

    // The working table of intensities and phases, as large as the field.
    std::unique_ptr<TMatrix> table;
    try {
        table = std::make_unique<TMatrix>(W, H);
    } catch (const std::exception&) {  // the table's xmsg or std::bad_alloc
        throw xmsg("fieldToBeamFan: no memory for a working table of " + std::to_string(W) + " x " +
                   std::to_string(H) + " samples");
    }
    TMatrix& T = *table;
    unwrapField(field, T);

    try {
        const double sx = nx >= 2 ? static_cast<double>(W - 2) / (nx - 1) : 1.0;
        const double sy = ny >= 2 ? static_cast<double>(H - 2) / (ny - 1) : 1.0;
        for (int i = 0; i < nx; ++i) {
            for (int j = 0; j < ny; ++j) {
                const double u = i * sx;
                const double v = j * sy;
                const int ix = static_cast<int>(u);
                const int iy = static_cast<int>(v);
                const double fx = u - ix;
                const double fy = v - iy;

                const complex A = T.at(ix, iy);
                const complex B = T.at(ix + 1, iy);
                // A one-row field has no row above: repeat the row.
                const complex C = iy == H - 1 ? A : T.at(ix, iy + 1);
                const complex D = iy == H - 1 ? B : T.at(ix + 1, iy + 1);

                const double intensity = ((1 - fx) * A.real() + fx * B.real()) * (1 - fy) +
                                         ((1 - fx) * C.real() + fx * D.real()) * fy;
                const double phase = ((1 - fx) * A.imag() + fx * B.imag()) * (1 - fy) +
                                     ((1 - fx) * C.imag() + fx * D.imag()) * fy;

                // The wavefront's tilt, λ/(2π) times the phase gradient, from
                // forward differences at the cell's lower-left sample.
                const double kx = wavelength * (B.imag() - A.imag()) / (kTwoPi * dx);
                // A one-row field has no tilt along y, also when dy is 0.
                const double ky = iy == H - 1 && dy == 0.0
                                      ? 0.0
                                      : wavelength * (C.imag() - A.imag()) / (kTwoPi * dy);
                // A spacing of 0 gives no direction: the tilt is infinite, or 0/0
                // where the phase does not change.
                if (!std::isfinite(kx) || !std::isfinite(ky)) {
                    std::ostringstream os;
                    os << "no beam direction for the phase gradient at sample (" << ix << ", " << iy
                       << ") with dx " << dx << " and dy " << dy;
                    throw xmsg(os.str());
                }
                const TVector a(kx, ky, 1.0);
                const double length = math::sqrt(a.dot(a));
                const TVector kVector(a.x / length, a.y / length, a.z / length);
                // (0, 1, 0) × a, deliberately not of unit length.
                const TVector polarization(1.0, 0.0, -kx);
                const TVector position(u * dx - (W - 1) * dx * 0.5, v * dy - (H - 1) * dy * 0.5,
                                       0.0);

                auto beam = std::make_unique<TBeam>(kBeamWavelength);
                beam->addNode(TBeamNode(position, kVector, intensity, polarization, phase));
                fan.addBeam(beam.get());
                beam.release();
            }
        }
    } catch (const xmsg& e) {
        throw xmsg("fieldToBeamFan: " + e.message());
    } catch (const std::bad_alloc&) {
        throw xmsg("fieldToBeamFan: no memory for beam " + std::to_string(fan.getSize()) +
                   " of the fan (" + std::to_string(nx) + " x " + std::to_string(ny) + " beams)");
    }
}

}  // namespace lumivex
