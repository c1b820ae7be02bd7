// Huffman coding of the compressor: length-limited trees, the choice between a
// stored, a fixed and a dynamic block, and the coding of the tally.
#pragma once

#include "zip/deflate_state.h"

#include <cstdint>

//--- constant tables
extern const uint8_t DEFLATE_EXTRA_LENGTH_BITS[DEFLATE_LENGTH_CODES];
extern const uint8_t DEFLATE_EXTRA_DISTANCE_BITS[DEFLATE_DISTANCE_CODES];

//--- set-up
void DeflateSetupDescriptors(DeflateState* s);
void DeflateInitTrees(DeflateState* s);
void DeflateStartBlock(DeflateState* s);

//--- blocks
// input: the block's bytes in the window, or null when they are no longer there.
void DeflateFlushBlock(DeflateState* s, const uint8_t* input, uint32_t length, bool final);
void DeflateBuildTree(DeflateState* s, DeflateTreeDesc* desc);
