// Vector forms of the content checksum, for the CPUs that have them. Each gives exactly the result of
// the byte loop; callers go through UpdateContentChecksum, which picks the best one once.
#pragma once
#include <cstdint>

#include "archive/checksum.h"

void UpdateContentChecksumBytewise(ContentChecksum& checksum, const unsigned char* bytes, uint32_t length);
void UpdateContentChecksumSse2(ContentChecksum& checksum, const unsigned char* bytes, uint32_t length);
void UpdateContentChecksumAvx2(ContentChecksum& checksum, const unsigned char* bytes, uint32_t length);
void UpdateContentChecksumAvx512(ContentChecksum& checksum, const unsigned char* bytes, uint32_t length);
// True when the CPU has the instructions and the operating system saves the registers they use.
bool CpuHasAvx2();
bool CpuHasAvx512Bw();
