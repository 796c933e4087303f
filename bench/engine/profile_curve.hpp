// RemoveFolder on a one-file package folder against the number of profiles
// on the machine, beside the floor that grows with them: the reads of the
// profiles' lists that every guarded call makes.
#pragma once

#include "engine_calls.hpp"
#include "profiles.hpp"

namespace quorvel::bench {

// The most extra profiles the curve lays out.
constexpr int kMostExtraProfiles = 2000;

// Lays out 0, 500 and 2,000 extra profiles with `extra`, folders only and
// then listed in ProfileList too, checks at each point that the bare DLL does what the
// product does and, unless `checkOnly`, times `calls` calls of each DLL and
// of the floor's reads there; prints the curve and the targets. False when
// the machine cannot be laid out, the check fails or a call fails.
bool runProfileCurve(const Dll& product, const Dll& bare, const Workload& oneFileRemoval, int calls, bool checkOnly,
                     ExtraProfiles& extra);

}  // namespace quorvel::bench
