// A package that runs the DLL's actions one at a time through MsiDoAction:
// the DLL in the Binary table and one immediate CustomAction row (type 1) per
// export. The engine tests and the engine benchmark open it with
// MsiOpenPackage and set CustomActionData themselves.
#pragma once

#include <string>

namespace quorvel::authoring {

// The five exports, which are also the actions' log labels.
extern const char* const kActionNames[5];

// The Error row 1306 that RemoveFolder's Retry/Cancel prompt formats; [2] is
// the SDK name.
constexpr const char* kRetryPromptText =
    "Could not remove the files of [2]. Close the programs using them, then choose Retry.";

bool buildActionPackage(const std::string& path, const std::string& dllPath, bool withRetryErrorRow,
                        std::string& error);

}  // namespace quorvel::authoring
