#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

namespace quorvel::engine {

void addRuntimeCases(Suite&) {}

}  // namespace quorvel::engine
