// SPDX-License-Identifier: Apache-2.0
// The optical system the tool uses when no description file is given.
#ifndef LUMIVEX_TOOLS_BUILTIN_EXAMPLE_H
#define LUMIVEX_TOOLS_BUILTIN_EXAMPLE_H

namespace lumivex::cli {

// A plano-convex singlet whose conic back face focuses collimated light
// without spherical aberration, followed by a quarter-pitch GRIN rod that
// relays the focus to a second, real image behind the rod.
extern const char* const kBuiltinExampleName;
extern const char* const kBuiltinExampleText;

}  // namespace lumivex::cli

#endif
