// Making a VCDIFF delta (RFC 3284) of a target against a base, in the subset the decoder reads and xdelta3
// -d applies: VCD_SOURCE windows of at most 4 MiB of target, the default code table, no secondary
// compression, xdelta3's Adler-32 of every window, no application header. The same inputs give the same
// bytes on every system.
#pragma once
#include <cstddef>
#include <vector>

// The delta of `target` against `base`, both whole in memory. Matches are sought over the whole base (an
// inner file that moved is still found), extended both ways, within the target window too, and runs of one
// byte are written as runs.
std::vector<unsigned char> MakeDelta(const unsigned char* base, size_t baseSize, const unsigned char* target,
                                     size_t targetSize);
