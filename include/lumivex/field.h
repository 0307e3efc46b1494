// SPDX-License-Identifier: Apache-2.0
// Sampled complex fields and their conversion to and from fans of beams.
#ifndef LUMIVEX_FIELD_H
#define LUMIVEX_FIELD_H

#include <algorithm>
#include <cstddef>
#include <new>
#include <string>
#include <utility>

#include "lumivex/export.h"
#include "lumivex/geometry.h"
#include "lumivex/numeric.h"

namespace lumivex {

// A rectangular grid of complex samples stored row after row: the sample in
// column c (along x) and row r (along y) is data[r * columns + c]. It carries
// no spacing and no origin; whoever reads it is given those separately.
class LUMIVEX_API TMatrix {
public:
    complex* data;
    int columns;
    int rows;

    // All samples start at (0, 0). Throws xmsg for a negative size and for a
    // size the heap cannot hold.
    TMatrix(int columns_, int rows_) : data(nullptr), columns(columns_), rows(rows_) {
        if (columns_ < 0 || rows_ < 0) throw xmsg("TMatrix: negative number of columns or rows");
        const std::size_t n = static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_);
        if (n == 0) return;
        // Asked without an exception: a failure is this library's xmsg.
        data = new (std::nothrow) complex[n]();
        if (!data)
            throw xmsg("TMatrix: no memory for a table of " + std::to_string(columns_) + " x " +
                       std::to_string(rows_) + " samples");
    }
    TMatrix(const TMatrix& other) : TMatrix(other.columns, other.rows) {
        std::copy(other.data, other.data + size(), data);
    }
    TMatrix(TMatrix&& other) noexcept : data(other.data), columns(other.columns), rows(other.rows) {
        other.data = nullptr;
        other.columns = other.rows = 0;
    }
    TMatrix& operator=(TMatrix other) noexcept {
        std::swap(data, other.data);
        std::swap(columns, other.columns);
        std::swap(rows, other.rows);
        return *this;
    }
    ~TMatrix() { delete[] data; }

    std::size_t size() const {
        return static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    }
    complex& at(int column, int row) { return data[static_cast<std::size_t>(row) * columns + column]; }
    const complex& at(int column, int row) const {
        return data[static_cast<std::size_t>(row) * columns + column];
    }
};

// Turns a sampled field into beams starting in the plane z = 0 on an nx × ny
// sub-grid of the samples. Each beam carries the interpolated intensity
// (squared modulus) and unwrapped phase, and its direction follows the local
// phase gradient (wavelength in the length unit of dx and dy). The new beams
// get the wavelength 6.328e-7 and are appended to `fan` in the order i (x)
// outer, j (y) inner. Failures inside the conversion are prefixed with
// "fieldToBeamFan: ".
LUMIVEX_API void fieldToBeamFan(const TMatrix& field, double dx, double dy, int nx, int ny,
                                double wavelength, TBeamFan& fan);

// Turns a traced fan (one row of beams, ascending in the x of their last
// nodes) back into the first row of `field`, sampled every dx around x = 0 at
// column columns/2. The intensity is corrected by the beam density relative
// to the start spacing fanWidth/(beams − 1); the phase is relative to the
// first beam. dy and fanHeight are accepted and have no effect.
LUMIVEX_API void beamFanToField(TBeamFan& fan, double dx, double dy, double fanWidth,
                                double fanHeight, TMatrix* field);

}  // namespace lumivex

#endif
