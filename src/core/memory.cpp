#include "core/memory.hpp"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace morvex {

void advise_huge_pages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // numpy's threshold: below it the few huge pages that could fit gain little.
  constexpr std::size_t threshold = std::size_t{4} << 20;
  constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
  if (bytes < threshold) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + huge_page - 1) & ~(huge_page - 1);
  const std::uintptr_t last = (begin + bytes) & ~(huge_page - 1);
  if (first < last) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace morvex
