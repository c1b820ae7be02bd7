// The compressor's entry point and its match finder: the sliding window, the
// hash chains, the lazy evaluation of matches and the tally of each block.
#pragma once

#include "zip/deflate_state.h"
#include "zip/zip_archive.h"

// DeflateEntry and DeflateFree, the container's seam, are declared in zip_archive.h.

//--- level 8, the only level
constexpr uint32_t DEFLATE_GOOD_LENGTH = 32;
constexpr uint32_t DEFLATE_MAX_LAZY = 128;
constexpr uint32_t DEFLATE_NICE_LENGTH = 258;
constexpr uint32_t DEFLATE_MAX_CHAIN = 1024;
