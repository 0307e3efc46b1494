// SPDX-License-Identifier: Apache-2.0
#include "numeric/nr_arrays.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace lumivex {
namespace nr {

namespace {

// The offset pointers of this layer may point before or after their block
// (p = block + 1 − low). They are formed in integer arithmetic so that the
// compiler never sees pointer arithmetic outside an object; on the flat
// address spaces the library runs on both forms are the same address.
template <class T>
T* shift(T* p, long count) {
    return reinterpret_cast<T*>(reinterpret_cast<std::uintptr_t>(p) +
                                static_cast<std::uintptr_t>(count) * sizeof(T));
}

template <class T>
T* allocate(long count, const char* failure) {
    void* block = std::malloc(static_cast<std::size_t>(count) * sizeof(T));
    if (!block) numeric_error(failure);
    return static_cast<T*>(block);
}

template <class T>
T* offsetVector(long low, long high, const char* failure) {
    return shift(allocate<T>(high - low + 2, failure), 1 - low);
}

template <class T>
void releaseVector(T* v, long low) {
    std::free(shift(v, low - 1));
}

// Row pointers first, then one data block of rows × columns (+1) elements.
template <class T>
T** offsetMatrix(long rowLow, long rowHigh, long colLow, long colHigh) {
    const long rows = rowHigh - rowLow + 1;
    const long columns = colHigh - colLow + 1;
    T** m = shift(allocate<T*>(rows + 1, "allocation failure 1 in matrix()"), 1 - rowLow);
    m[rowLow] =
        shift(allocate<T>(rows * columns + 1, "allocation failure 2 in matrix()"), 1 - colLow);
    for (long i = rowLow + 1; i <= rowHigh; ++i) m[i] = shift(m[i - 1], columns);
    return m;
}

template <class T>
void releaseMatrix(T** m, long rowLow, long colLow) {
    std::free(shift(m[rowLow], colLow - 1));
    std::free(shift(m, rowLow - 1));
}

}  // namespace

void numeric_error(const char* message) {
    std::fprintf(stderr, "Numerical Recipes run-time error...\n");
    std::fprintf(stderr, "%s\n", message);
    std::fprintf(stderr, "...now exiting to system...\n");
    std::exit(1);
}

double* vector(long low, long high) {
    return offsetVector<double>(low, high, "allocation failure in vector()");
}

int* ivector(long low, long high) {
    return offsetVector<int>(low, high, "allocation failure in ivector()");
}

unsigned char* cvector(long low, long high) {
    return offsetVector<unsigned char>(low, high, "allocation failure in cvector()");
}

long* lvector(long low, long high) {
    return offsetVector<long>(low, high, "allocation failure in lvector()");
}

double* dvector(long low, long high) {
    return offsetVector<double>(low, high, "allocation failure in dvector()");
}

double** matrix(long rowLow, long rowHigh, long colLow, long colHigh) {
    return offsetMatrix<double>(rowLow, rowHigh, colLow, colHigh);
}

double** dblmatrix(long rowLow, long rowHigh, long colLow, long colHigh) {
    return offsetMatrix<double>(rowLow, rowHigh, colLow, colHigh);
}

int** intmatrix(long rowLow, long rowHigh, long colLow, long colHigh) {
    return offsetMatrix<int>(rowLow, rowHigh, colLow, colHigh);
}

double** submatrix(double** a, long fromRowLow, long fromRowHigh, long fromColLow, long,
                   long toRowLow, long toColLow) {
    const long rows = fromRowHigh - fromRowLow + 1;
    double** m =
        shift(allocate<double*>(rows + 1, "allocation failure in submatrix()"), 1 - toRowLow);
    for (long k = 0; k < rows; ++k)
        m[toRowLow + k] = shift(a[fromRowLow + k], fromColLow - toColLow);
    return m;
}

double** convert_matrix(double* a, long rowLow, long rowHigh, long colLow, long colHigh) {
    const long rows = rowHigh - rowLow + 1;
    const long columns = colHigh - colLow + 1;
    double** m =
        shift(allocate<double*>(rows + 1, "allocation failure in convert_matrix()"), 1 - rowLow);
    m[rowLow] = shift(a, -colLow);
    for (long i = rowLow + 1; i <= rowHigh; ++i) m[i] = shift(m[i - 1], columns);
    return m;
}

double*** f3tensor(long rowLow, long rowHigh, long colLow, long colHigh, long depthLow,
                   long depthHigh) {
    const long rows = rowHigh - rowLow + 1;
    const long columns = colHigh - colLow + 1;
    const long depth = depthHigh - depthLow + 1;
    double*** t =
        shift(allocate<double**>(rows + 1, "allocation failure 1 in f3tensor()"), 1 - rowLow);
    t[rowLow] = shift(allocate<double*>(rows * columns + 1, "allocation failure 2 in f3tensor()"),
                      1 - colLow);
    t[rowLow][colLow] =
        shift(allocate<double>(rows * columns * depth + 1, "allocation failure 3 in f3tensor()"),
              1 - depthLow);
    for (long j = colLow + 1; j <= colHigh; ++j) t[rowLow][j] = shift(t[rowLow][j - 1], depth);
    for (long i = rowLow + 1; i <= rowHigh; ++i) {
        t[i] = shift(t[i - 1], columns);
        t[i][colLow] = shift(t[i - 1][colLow], columns * depth);
        for (long j = colLow + 1; j <= colHigh; ++j) t[i][j] = shift(t[i][j - 1], depth);
    }
    return t;
}

void release_vector(double* v, long low, long) { releaseVector(v, low); }
void release_ivector(int* v, long low, long) { releaseVector(v, low); }
void release_cvector(unsigned char* v, long low, long) { releaseVector(v, low); }
void release_lvector(long* v, long low, long) { releaseVector(v, low); }
void release_dvector(double* v, long low, long) { releaseVector(v, low); }

void release_matrix(double** m, long rowLow, long, long colLow, long) {
    releaseMatrix(m, rowLow, colLow);
}

void release_dblmatrix(double** m, long rowLow, long, long colLow, long) {
    releaseMatrix(m, rowLow, colLow);
}

void release_intmatrix(int** m, long rowLow, long, long colLow, long) {
    releaseMatrix(m, rowLow, colLow);
}

// Views own only their row pointers.
void release_submatrix(double** b, long, long, long, long, long toRowLow, long) {
    std::free(shift(b, toRowLow - 1));
}

void release_convert_matrix(double** b, long rowLow, long, long, long) {
    std::free(shift(b, rowLow - 1));
}

void release_f3tensor(double*** t, long rowLow, long, long colLow, long, long depthLow, long) {
    std::free(shift(t[rowLow][colLow], depthLow - 1));
    std::free(shift(t[rowLow], colLow - 1));
    std::free(shift(t, rowLow - 1));
}

}  // namespace nr
}  // namespace lumivex
