#include "core/interrupt.hpp"

#include <atomic>

namespace morvex {
namespace {

std::atomic<InterruptCheck> installed{nullptr};

}  // namespace

void set_interrupt_check(InterruptCheck check) {
  installed.store(check, std::memory_order_relaxed);
}

bool interrupt_requested() {
  const InterruptCheck check = installed.load(std::memory_order_relaxed);
  return check != nullptr && check();
}

}  // namespace morvex
