#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

namespace quorvel::engine {

void addInstallationCases(Suite&) {}

}  // namespace quorvel::engine
