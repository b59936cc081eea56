// What each compression level chooses, in one table: the frame's level code,
// the LZ hash-table size, whether matches insert their inner positions, the
// parser, whether the streams are Huffman-coded, and how much of the device's
// memory one frame may take. Every part of the encoder
// that depends on the level reads it here.
#pragma once

#include <cstdint>

namespace kvn {

// The parse mode, also the LZ encode kernel's specialisation constant.
enum class ParseMode : uint32_t {
    Greedy = 0,
    Chain = 1,
    SortParse = 2,  // level 5 where it applies, else the chain parse
};

struct LevelParams {
    uint8_t frame_code;      // header byte 7
    uint32_t hash_bits;      // log2 of the hash-table entries
    bool insert_in_matches;  // positions inside a match enter the table too
    ParseMode parse;
    bool entropy_coded;      // literal, token and off16 streams Huffman-coded
    uint32_t frame_cap_divisor;  // a frame takes at most half a GiB per GiB of device heap over this
};

inline constexpr int32_t kLowestLevel = 1;
inline constexpr int32_t kHighestLevel = 5;
// Level 6 is level 5 with the word-replacement transform.
inline constexpr int32_t kLevelWithWrt = 6;

inline constexpr LevelParams kLevelTable[kHighestLevel] = {
    {1, 14, false, ParseMode::Greedy, false, 7},
    {2, 16, true, ParseMode::Greedy, false, 9},
    {3, 15, false, ParseMode::Greedy, true, 13},
    {5, 15, true, ParseMode::Greedy, true, 14},
    {6, 17, true, ParseMode::SortParse, true, 16},
};

// The row of a level from kLowestLevel to kHighestLevel.
inline const LevelParams& levelParams(int32_t level) { return kLevelTable[level - kLowestLevel]; }

}  // namespace kvn
