#include "engine/core.h"

#include "common/fault.h"

namespace abyx {

CoreResult core(const SimulationConfig&) { throw Fault("the engine is not built yet"); }

}  // namespace abyx
