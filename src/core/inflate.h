// inflate.h -- the deflate decoder (RFC 1951) behind the stub's 32 KB window.
#ifndef SFXKIT_CORE_INFLATE_H
#define SFXKIT_CORE_INFLATE_H

// Builds the fixed literal/length and distance tables; once per process, before Inflate.
void BuildFixedTables();
// Decodes the current member: reads at most CompressedLeft bytes through ReadArchive
// (decrypting them when EntryEncrypted), writes every output byte through WriteOutput
// in pieces of 32768 bytes and one final shorter piece, each folded into EntryCrc.
void Inflate();
#endif
