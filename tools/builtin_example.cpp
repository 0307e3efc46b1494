// SPDX-License-Identifier: Apache-2.0
#include "builtin_example.h"

namespace lumivex::cli {

const char* const kBuiltinExampleName = "built-in example";

// Lengths in millimetres. Each record's index is the medium in front of the
// element:
// - Slab at 0 (air in front): the flat entrance face of the singlet.
// - Lens at 5 (glass 1.5 in front, air behind): vertex radius −10 and conic
//   constant −(1.5/1)², the hyperboloid that sends the collimated light
//   inside the glass to one point 20 behind its vertex, at z = 25.
// - Slab at 35 (air in front): the entrance face of the rod, 10 behind that
//   focus.
// - GrinRod exiting at 54.635: n0 = 1.6, g = 0.08, so its length 19.635 is
//   a quarter of the pitch 2π/g. A quarter-pitch rod images a point at
//   distance d in front of it to 1/(n0²·g²·d) ≈ 6.1 behind it, near z = 60.7.
const char* const kBuiltinExampleText =
    "OpticalSystem\n"
    "5\n"
    "Slab\t0\t1\n"
    "Lens\t5\t1.5\t1\t20\t0\n"
    "Slab\t35\t1\n"
    "GrinRod\t54.635\t1.6\t0.08\t0\t0\n";

}  // namespace lumivex::cli
