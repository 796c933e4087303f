// Lines in the Installer log, and the verbosity decision with the two global
// atoms that publish it.
#pragma once

#include <windows.h>

#include "runtime/strutil.h"

// Log levels: standard lines are always written, verbose lines only while
// verbose logging is in effect; any other level is never written.
constexpr int kLogVerbose = 1;
constexpr int kLogStandard = 2;

void LogLine(int level, const char* format, ...) QUORVEL_PRINTF_LIKE(2, 3);
// A standard line "Error 0x<result>: <message>", written only in an active session.
void LogErrorLine(HRESULT result, const char* format, ...) QUORVEL_PRINTF_LIKE(2, 3);

BOOL VerboseLoggingInEffect();
// Settles the verbosity once per process from LOGVERBOSE, MsiLogging and the
// logging policy, and answers it.
int DetermineVerboseLogging();
// Makes exactly one of the two atoms exist, the one that says `verbose`.
HRESULT PublishVerboseLogging(int verbose);
BOOL PolicyRequestsVerboseLogging();
