// The processor paths of the file scans that the csv tests run.
#pragma once

#include <cstdio>
#include <vector>

#include "csv/RsCsvUtil.h"

namespace csv_test {

inline const char* Name(TCsvLanes lanes) {
  static const char* const names[] = {"bytes", "SSE2", "AVX2", "AVX-512"};
  return names[static_cast<int>(lanes)];
}

// Every processor path this machine runs; the others are named once.
inline const std::vector<TCsvLanes>& Paths() {
  static const std::vector<TCsvLanes> paths = [] {
    std::vector<TCsvLanes> all;
    for (TCsvLanes lanes : {TCsvLanes::Bytes, TCsvLanes::Sse2, TCsvLanes::Avx2, TCsvLanes::Avx512}) {
      if (TCsvLoader::CanRun(lanes))
        all.push_back(lanes);
      else
        std::printf("this processor does not run the %s path\n", Name(lanes));
    }
    return all;
  }();
  return paths;
}

}  // namespace csv_test
