// Registration of the engine case groups.
#pragma once

#include "harness.hpp"

namespace quorvel::engine {

void addRuntimeCases(Suite& suite);
void addEditEstimatedSizeCases(Suite& suite);
void addRemoveFolderCases(Suite& suite);
void addRemoveRegistriesCases(Suite& suite);
void addFolderPermissionCases(Suite& suite);
void addRemoveManufacturerFolderCases(Suite& suite);
void addLifecycleCases(Suite& suite);

}  // namespace quorvel::engine
