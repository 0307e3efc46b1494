// SPDX-License-Identifier: Apache-2.0
// Symbol visibility of the lumivex shared library.
//
// The library is built with hidden visibility; LUMIVEX_API marks the classes
// and functions that a host may use. The same macro serves the static build
// that the unit tests link, where it is harmless.
#ifndef LUMIVEX_EXPORT_H
#define LUMIVEX_EXPORT_H

#if defined(_WIN32)
#if defined(LUMIVEX_BUILDING)
#define LUMIVEX_API __declspec(dllexport)
#else
#define LUMIVEX_API __declspec(dllimport)
#endif
#else
#define LUMIVEX_API __attribute__((visibility("default")))
#endif

#endif
