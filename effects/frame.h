// Helpers the frame effects share: the choice between the plain loops and the wider
// instruction sets of the running CPU.
#ifndef CORVIX_EFFECTS_FRAME_H
#define CORVIX_EFFECTS_FRAME_H

#include <cstdint>

#include "core/cpu.h"
#include "core/pixels.h"

namespace corvix {

// True when the AVX-512 byte-permute paths may run.
inline bool vbmi_enabled() { return best_isa() == Isa::kAvx512Vbmi; }

}  // namespace corvix

#endif
