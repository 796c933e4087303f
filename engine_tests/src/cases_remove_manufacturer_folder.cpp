#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

namespace quorvel::engine {

void addRemoveManufacturerFolderCases(Suite&) {}

}  // namespace quorvel::engine
