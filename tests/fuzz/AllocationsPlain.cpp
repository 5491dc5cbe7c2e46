// The ordinary build of a target: allocations never fail on purpose.
#include "FuzzSupport.h"

namespace zentrova::fuzz {

AllocationBudget::AllocationBudget(const uint8_t*, size_t) {}
AllocationBudget::~AllocationBudget() = default;
void AllocationBudget::Pause() {}
bool AllocationBudget::Refused() { return false; }

}  // namespace zentrova::fuzz
