#pragma once
// Where the processor has AVX2, UpdateAdler32 (util/helpers.h) takes 32 bytes at a time, with the
// same result. Tests and benchmarks can switch that off; returns whether the wide path is used now.
bool AllowWideChecksum(bool allowed);
