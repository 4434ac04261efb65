// A fixed ring of integers for a running mean; the user advances it.
#pragma once

#include <cstdint>
#include <vector>

struct averager {
  int32_t index;
  int32_t sum;
  int32_t size;
  std::vector<int32_t> slots;

  explicit averager(int n) : index(0), sum(0), size(n), slots(n > 0 ? n : 0, 0) {}
};
