// Nearest sampling: which source index position k of a d-long run takes from an s-long one.
// The scalers and the scaled blits all step through it.
#ifndef CORVIX_CORE_SAMPLING_H
#define CORVIX_CORE_SAMPLING_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvix {

// (k x s) / d, truncated, for 0 <= k < d. The callers keep (d - 1) x s within 32 bits.
inline int32_t sample_index(int32_t k, int32_t s, int32_t d) {
  return static_cast<int32_t>(int64_t{k} * s / d);
}

// True when (d - 1) x s, the largest product nearest sampling forms, fits a signed 32-bit
// value (d >= 1, s >= 0).
inline bool sampling_fits(int32_t s, int32_t d) { return (int64_t{d} - 1) * s <= INT32_MAX; }

// The indices (k x s) / d for k, k + 1, k + 2, ... without a division per step: it keeps
// k x s as index x d + rest, with 0 <= rest < d, and adds s at each step. Any k, s and d
// below 2^32 (d > 0): nothing here wraps.
class SampleStepper {
 public:
  SampleStepper(int64_t k, int64_t s, int64_t d)
      : index_(k * s / d), rest_(k * s % d), whole_(s / d), part_(s % d), d_(d) {}
  int64_t index() const { return index_; }
  void next() {
    index_ += whole_;
    rest_ += part_;
    if (rest_ >= d_) {
      rest_ -= d_;
      ++index_;
    }
  }

 private:
  int64_t index_, rest_, whole_, part_, d_;
};

// Makes rows [first, end) of a nearest-sampled picture whose rows are row_bytes apart at
// `out`: row j samples source row source_row(j), made by make_row(row, sy). A row sampling
// the same source row as the one before it (enlarging) is a copy of the row just made; the
// first row of a run is always made, so runs can go to different threads.
template <class SourceRow, class MakeRow>
void sample_rows(int64_t first, int64_t end, uint8_t *out, size_t row_bytes, SourceRow source_row,
                 MakeRow make_row) {
  uint8_t *d = out + static_cast<size_t>(first) * row_bytes;
  int32_t previous = -1;
  for (auto j = static_cast<int32_t>(first); j < end; ++j, d += row_bytes) {
    const int32_t sy = source_row(j);
    if (sy == previous) {
      std::memcpy(d, d - row_bytes, row_bytes);
      continue;
    }
    previous = sy;
    make_row(d, sy);
  }
}

}  // namespace corvix

#endif
