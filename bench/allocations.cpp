#include "allocations.h"

#include <standin.h>

namespace bench {

AllocationCounter::AllocationCounter() : start_(standin::AllocationPoints()) { standin::CountOperatorNew(true); }

AllocationCounter::~AllocationCounter() { standin::CountOperatorNew(false); }

uint64_t AllocationCounter::Since() const { return standin::AllocationPoints() - start_; }

}  // namespace bench
