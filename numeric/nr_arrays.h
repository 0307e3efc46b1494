// SPDX-License-Identifier: Apache-2.0
// Index-offset numeric arrays and the numeric layer's fatal exit.
//
// A vector for indices low … high is one heap block of high − low + 2
// elements whose element 0 is never used; the returned pointer p satisfies
// p[low] == block[1]. Matrices keep all their elements in one block, row after
// row, behind a block of row pointers; three-index arrays add a block of
// column pointers. Each allocator has a release routine taking the pointer and
// the allocator's bounds (only the low bounds matter).
//
// These routines are internal to the library. They do not test their bounds,
// and when the heap is exhausted they end the process through numeric_error
// instead of returning.
#ifndef LUMIVEX_NUMERIC_NR_ARRAYS_H
#define LUMIVEX_NUMERIC_NR_ARRAYS_H

namespace lumivex {
namespace nr {

// Writes "Numerical Recipes run-time error...", the message and
// "...now exiting to system..." to standard error, one line each, and ends
// the process with status 1 (exit handlers run).
[[noreturn]] void numeric_error(const char* message);

double* vector(long low, long high);
int* ivector(long low, long high);
unsigned char* cvector(long low, long high);
long* lvector(long low, long high);
double* dvector(long low, long high);

double** matrix(long rowLow, long rowHigh, long colLow, long colHigh);
double** dblmatrix(long rowLow, long rowHigh, long colLow, long colHigh);
int** intmatrix(long rowLow, long rowHigh, long colLow, long colHigh);

// A view of rows fromRowLow … fromRowHigh of a, renumbered so that row
// toRowLow and column toColLow address a[fromRowLow][fromColLow]. Only the
// row pointers are allocated; fromColHigh is not used.
double** submatrix(double** a, long fromRowLow, long fromRowHigh, long fromColLow, long fromColHigh,
                   long toRowLow, long toColLow);
// A view of the flat array a (R × K doubles, row after row) as a matrix with
// rows rowLow … rowHigh and columns colLow … colHigh.
double** convert_matrix(double* a, long rowLow, long rowHigh, long colLow, long colHigh);

double*** f3tensor(long rowLow, long rowHigh, long colLow, long colHigh, long depthLow,
                   long depthHigh);

void release_vector(double* v, long low, long high);
void release_ivector(int* v, long low, long high);
void release_cvector(unsigned char* v, long low, long high);
void release_lvector(long* v, long low, long high);
void release_dvector(double* v, long low, long high);
void release_matrix(double** m, long rowLow, long rowHigh, long colLow, long colHigh);
void release_dblmatrix(double** m, long rowLow, long rowHigh, long colLow, long colHigh);
void release_intmatrix(int** m, long rowLow, long rowHigh, long colLow, long colHigh);
void release_submatrix(double** b, long fromRowLow, long fromRowHigh, long fromColLow,
                       long fromColHigh, long toRowLow, long toColLow);
void release_convert_matrix(double** b, long rowLow, long rowHigh, long colLow, long colHigh);
void release_f3tensor(double*** t, long rowLow, long rowHigh, long colLow, long colHigh,
                      long depthLow, long depthHigh);

}  // namespace nr
}  // namespace lumivex

#endif
