// What one platform call of each kind that a guarded call makes costs on
// this machine: each timed in a loop in this process, with the arguments the
// target guard gives it. With the counts of a call trace
// (scripts/bench-engine.sh --trace-calls) they tell where a guarded call's
// time goes.
#pragma once

namespace quorvel::bench {

// Prints a table: the call (or the calls that go together), what it is made
// on, microseconds each time it is made.
void printCallCosts(int repetitions);

}  // namespace quorvel::bench
