// The shared real files beside the project. A clone elsewhere has none: the tests that read
// them skip, saying why, and CTest counts them as skipped.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#define MORVEX_SKIP_WITHOUT_REALDATA()                                                  \
  do {                                                                                  \
    if (!std::filesystem::is_directory(MORVEX_REALDATA_DIR)) {                          \
      GTEST_SKIP() << "shared real-data files are not available: " MORVEX_REALDATA_DIR; \
    }                                                                                   \
  } while (false)
