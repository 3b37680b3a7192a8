// Threads that help one load with parts of its work that do not depend on each other: each
// helper runs its part while the caller runs its own. A team lives as long as the load.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace morvex {

class WorkerTeam {
 public:
  // One member per core, the caller included, at most `most`; no helper on one core.
  explicit WorkerTeam(std::size_t most);
  WorkerTeam(const WorkerTeam&) = delete;
  WorkerTeam& operator=(const WorkerTeam&) = delete;
  ~WorkerTeam();

  // The members: the caller and its helpers.
  std::size_t size() const { return helpers_.size() + 1; }

  // Runs task(k) for every k below size(), task(0) on the caller, and returns once all have;
  // an exception a helper's task threw is thrown here.
  void run(const std::function<void(std::size_t)>& task);

 private:
  void serve(std::size_t member);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(std::size_t)>* task_ = nullptr;
  std::size_t round_ = 0;    // counts the tasks handed out
  std::size_t pending_ = 0;  // helpers still on this round's task
  bool ending_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> helpers_;
};

}  // namespace morvex
