// The CRC-32 of this system, the trimming of blank flash words and the
// little-endian stores of the binary frames.
//
// The CRC is table-driven and most-significant-bit first: polynomial
// 0x04C11DB7, no reflection, initial value 0xFFFFFFFF, and a final
// exclusive-or with the polynomial itself (0x04C11DB7, not 0xFFFFFFFF). So it
// equals the CRC-32/MPEG-2 value of the same bytes exclusive-or 0x04C11DB7.
// The unit computes the same function when it is asked for a checksum of its
// memory; stored image checksums, frame checksums and the unit's answers are
// all compared with it.
//
// Every function may be called from any thread. This library depends on the
// standard library only; the virtual unit links it too.
#pragma once

#include <cstdint>

// The blank values that the trimming drops: an erased 16-bit flash word and an
// erased 24-bit DSP word in its 32-bit slot.
constexpr uint16_t BLANK_WORD16 = 0xFFFF;
constexpr uint32_t BLANK_WORD24 = 0x00FFFFFF;

// Builds the 256-entry table. Idempotent and safe to call concurrently; Crc32
// builds the table itself when no one has done it yet.
void InitCrc32Table();

// Entry `index` of the table (builds the table if needed).
uint32_t Crc32TableEntry(uint8_t index);

// The CRC of `count` bytes. `bytes` may be null when count is 0.
uint32_t Crc32(const void* bytes, uint32_t count);

// Number of elements worth transferring: the array without its trailing blank
// elements, rounded up to a multiple of `block` (0 when every element is
// blank). The result can exceed `count` when count is not itself a multiple of
// block; callers that read that many elements must hold them. A block of 0
// leaves the length unrounded.
uint32_t TrimBlankWords16(const uint16_t* words, uint32_t count, uint32_t block);
uint32_t TrimBlankWords24(const uint32_t* slots, uint32_t count, uint32_t block);

// Write a value least significant byte first.
void StoreLe32(uint8_t* dst, uint32_t v);
void StoreLe16(uint8_t* dst, uint16_t v);
