#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

namespace quorvel::engine {

void addRemoveFolderCases(Suite&) {}

}  // namespace quorvel::engine
