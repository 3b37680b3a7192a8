#include "core/worker_team.hpp"

#include <algorithm>

namespace morvex {

WorkerTeam::WorkerTeam(std::size_t most) {
  const std::size_t cores = std::max<std::size_t>(1, std::thread::hardware_concurrency());
  const std::size_t members = std::clamp<std::size_t>(cores, 1, std::max<std::size_t>(most, 1));
  helpers_.reserve(members - 1);
  for (std::size_t k = 1; k < members; ++k) helpers_.emplace_back([this, k] { serve(k); });
}

WorkerTeam::~WorkerTeam() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

void WorkerTeam::run(const std::function<void(std::size_t)>& task) {
  {
    const std::lock_guard lock(mutex_);
    task_ = &task;
    pending_ = helpers_.size();
    failure_ = nullptr;
    ++round_;
  }
  wake_.notify_all();
  std::exception_ptr own;
  try {
    task(0);
  } catch (...) {
    own = std::current_exception();
  }
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return pending_ == 0; });
  task_ = nullptr;
  if (own) std::rethrow_exception(own);
  if (failure_) std::rethrow_exception(failure_);
}

void WorkerTeam::serve(std::size_t member) {
  std::size_t seen = 0;
  for (;;) {
    const std::function<void(std::size_t)>* task = nullptr;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return ending_ || round_ != seen; });
      if (ending_) return;
      seen = round_;
      task = task_;
    }
    std::exception_ptr failure;
    try {
      (*task)(member);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      const std::lock_guard lock(mutex_);
      if (failure && !failure_) failure_ = failure;
      --pending_;
    }
    done_.notify_one();
  }
}

}  // namespace morvex
