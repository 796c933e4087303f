#include "cases.hpp"
#include "fixture.hpp"
#include "machine.hpp"

namespace quorvel::engine {

void addFolderPermissionCases(Suite&) {}

}  // namespace quorvel::engine
