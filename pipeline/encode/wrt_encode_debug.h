// Progress lines of the GPU word transform, printed with KVN_WRT_DEBUG set:
// one function per line, each ending with a newline, times in milliseconds
// with two decimals.
#pragma once

#include <cstdint>

namespace kvn {

bool wrtEncodeDebugOn();

void printWrtBuffersEnsured(uint64_t segments);
void printWrtRawH2d(double ms);
void printWrtLaunchingCount();
void printWrtCountDone();
void printWrtLaunchingCompact();
void printWrtCompactDone();
void printWrtCountCompactTime(double ms);
void printWrtCandidateCount(uint64_t candidates);
// The first min(c, 8) lengths and min(c, 4) counts.
void printWrtCandidates(uint64_t candidates, const uint8_t* lengths, const uint32_t* counts);
void printWrtLaunchingAssign(uint32_t codes);
void printWrtLaunchingEncode();
void printWrtEncodeDone();
void printWrtAssignEncodeTime(double ms);
void printWrtLaunchingGather();
void printWrtGatherTime(double ms);

}  // namespace kvn
