// sfxcore.h -- what the core shares with the program it is built into.
//
// The core (CRC-32, traditional decryption, Huffman tables, inflate, the stored
// copy, the file format) includes no platform header. It reaches the archive and
// the output file only through ReadArchive and WriteOutput, which every build
// that links it (the stubs, the host tests, the fuzzers, the benchmark, sfxmake)
// supplies, and it works on the state of the member being extracted that is
// declared, and defined once, here.
#ifndef SFXKIT_CORE_SFXCORE_H
#define SFXKIT_CORE_SFXCORE_H

#include <stddef.h>
#include <stdint.h>

// The state of the member being decoded lives in each thread that decodes
// where the host has threads (sfxmake verifies members side by side); the
// stubs decode one member at a time and keep plain globals.
#ifdef _WIN32
#define MEMBER_STATE
#else
#define MEMBER_STATE thread_local
#endif

// State of the member being extracted (defined in member.cpp).
extern MEMBER_STATE int64_t CompressedLeft;   // compressed bytes of the member not yet read, without what its
                                 // encryption adds (decrypt.h); wide enough for every 32-bit size
extern MEMBER_STATE uint32_t EntryCrc;        // CRC-32 register: set to 0xFFFFFFFF per member, complemented at the end
extern MEMBER_STATE uint32_t CryptKeys[3];    // traditional-encryption keys 0, 1 and 2
extern MEMBER_STATE bool EntryEncrypted;      // decrypt member data as it is read (decrypt.h says with which scheme)
extern MEMBER_STATE uint64_t OutputLeft;      // output bytes the member may still produce: its declared size, set by
                                 // DecodeMemberData; unbounded for a decoder called on its own

// Reads up to count bytes of the archive at its current position. Returns the
// number read, 0 at the end of the file or when the read fails. Short reads are
// allowed; the caller reads again as it needs more.
uint32_t ReadArchive(void *buffer, uint32_t count);

// Writes count bytes of member output. False refuses them (the output could not
// take them, or the host wants no more): the decoder then stops at once.
bool WriteOutput(const uint8_t *data, uint32_t count);

// Where every decoder hands its output: the piece goes to WriteOutput and
// through EntryCrc, unless it would take the member past OutputLeft, the size its
// directory record declares. Then nothing of it is written and the decoder stops
// as at a refused write; DecodeMemberData reports that as TooLong. The sizes in
// the directory thus bound what a member can put on the disk.
bool EmitOutput(const uint8_t *data, uint32_t count);

// How decoding a member ended. The CRC-32 of what was written still decides
// whether a member is sound: a stream may end Done and yet be damaged.
enum class DecodeResult : uint8_t {
  Done,           // the data ended where it says it ends
  BadData,        // the stream breaks its format; what came before was written
  ArchiveEnded,   // ReadArchive gave out before the member's compressed size was read
  OutputRefused,  // WriteOutput refused; nothing more was written
  NoMemory,       // the member's dictionary is more than the system would give; nothing was written
  TooLong,        // the data goes on past the member's declared size; nothing beyond it was written
};

// Ends the process after a failed allocation; never returns.
[[noreturn]] void OutOfMemory();

// Heap blocks for the core: never null (OutOfMemory ends the process instead).
void *AllocateMemory(size_t size);
// The same for blocks whose size the archive decides (a member's dictionary):
// null when the system cannot give it, for the caller to report.
void *TryAllocateMemory(size_t size);
// The same for a large table read at random (the LZMA encoder's match finder),
// in large pages where the system gives them. ReleaseMemory frees it.
void *TryAllocateTable(size_t size);
void ReleaseMemory(void *block);

// Little-endian field access for on-disk records; never cast bytes to structs.
inline uint16_t GetLE16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t GetLE32(const uint8_t *p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline void PutLE16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
inline void PutLE32(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24);
}
inline uint64_t GetLE64(const uint8_t *p) { return GetLE32(p) | (uint64_t)GetLE32(p + 4) << 32; }
inline void PutLE64(uint8_t *p, uint64_t v) {
  PutLE32(p, (uint32_t)v);
  PutLE32(p + 4, (uint32_t)(v >> 32));
}

#endif
