#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

namespace quorvel::engine {

void addRemoveRegistriesCases(Suite&) {}

}  // namespace quorvel::engine
