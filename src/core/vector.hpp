// The one place that decides whether the SSE2 paths are built. Every vector path has a
// portable counterpart that builds everywhere; MORVEX_NO_VECTOR (CMake's MORVEX_VECTOR=OFF)
// leaves the SSE2 paths out on x86-64 too, so the portable code is built and tested there.
#pragma once

#if defined(__SSE2__) && defined(__x86_64__) && !defined(MORVEX_NO_VECTOR)
#define MORVEX_VECTOR 1
#include <emmintrin.h>
#else
#define MORVEX_VECTOR 0
#endif
