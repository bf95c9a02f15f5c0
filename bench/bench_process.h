// Process facts for the benchmarks (POSIX only): the peak resident memory,
// and running a piece of work in a child process so that its memory never
// counts towards the caller's peak.
#pragma once

namespace plf::bench {

// The process's peak resident set so far, in KiB. A process started from
// another may begin with the other's peak.
long PeakResidentKiB();
// The process's resident set now, in KiB; -1 where the system does not say.
long CurrentResidentKiB();

// Runs work(arg) in a child process and waits for it; true when the child
// ended with exit code 0 (work returning true).
bool RunInChildProcess(bool (*work)(void*), void* arg);

}  // namespace plf::bench
