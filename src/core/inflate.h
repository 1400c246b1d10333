// inflate.h -- the deflate decoder (RFC 1951) behind the stub's 32 KB window.
#ifndef SFXKIT_CORE_INFLATE_H
#define SFXKIT_CORE_INFLATE_H
#include "huffman.h"
#include "sfxcore.h"

enum {
  InputBufferSize = 32768,  // compressed bytes read (and decrypted) at a time
  WindowSize = 32768,       // the history deflate may reach back into; also the size of every output piece but the last
};

// The fixed codes' first-level tables (7 and 5 lookup bits), built by BuildFixedTables.
extern HuffmanEntry *FixedLiteralTable;
extern HuffmanEntry *FixedDistanceTable;

// Builds the fixed literal/length and distance tables; once per process, before Inflate.
// Later calls do nothing.
void BuildFixedTables();

// Decodes the current member: reads at most CompressedLeft bytes through ReadArchive
// (decrypting them through DecryptData), writes every output byte through WriteOutput
// in pieces of 32768 bytes and one final shorter piece, each folded into EntryCrc.
// A stream that breaks RFC 1951 stops at the first fault: what was decoded before it
// is written, nothing after (BadData, or ArchiveEnded when the archive gave out
// first); a refused write stops it at once (OutputRefused). The member's CRC-32
// still decides whether what was written is sound.
// CompressedLeft ends as the count of member bytes not read from the archive.
DecodeResult Inflate();
#endif
