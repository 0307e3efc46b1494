// SPDX-License-Identifier: Apache-2.0
// The shipped glass table, compiled into the library from data/glasses.tsv
// by the build (builtin_glasses.cpp is generated).
#ifndef LUMIVEX_GLASS_BUILTIN_GLASSES_H
#define LUMIVEX_GLASS_BUILTIN_GLASSES_H

namespace lumivex {
namespace detail {

// The table's text in pieces small enough for every compiler's string
// literal limit; joined in order they are the file.
extern const char* const kBuiltinGlassChunks[];
extern const int kBuiltinGlassChunkCount;

}  // namespace detail
}  // namespace lumivex

#endif
