// The shape every exported action shares: start the session, read
// CustomActionData, do the action's own work, finish with an Installer code.
#pragma once

#include <windows.h>
#include <msiquery.h>

// The action's own work on its argument; its Result decides the final code.
using ActionWork = HRESULT (*)(MSIHANDLE session, const char* customActionData);

struct ActionDefinition {
  const char* label;                // the exported name, prefixed to every line
  const char* startFailureMessage;  // error line for a failed session start
  DWORD customActionDataBytes;      // the argument's buffer, terminator included
  ActionWork work;
};

// The largest CustomActionData buffer an action may ask for.
constexpr DWORD kLargestCustomActionData = 1024;

// Runs one action call; answers 0, 1602 or 1603.
UINT RunAction(MSIHANDLE session, const ActionDefinition& action);
