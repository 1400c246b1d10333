// zipformat.h -- the file format of a self-extracting program, defined once: where
// the stub's image ends, the configuration block behind it, the ZIP end record and
// its search window, central and local headers, and the rules for member names.
//
// The stub, sfxmake and the fuzzers all read the format through these routines;
// each side supplies only its own way of reaching the bytes (ReadArchive) and its
// own way of reporting what the routines find wrong.
#ifndef SFXKIT_CORE_ZIPFORMAT_H
#define SFXKIT_CORE_ZIPFORMAT_H

#include "sfxcore.h"

// ---- ZIP signatures -----------------------------------------------------------

// Zero until CompleteSignatures writes them, so that a program carrying the
// core holds none of them in its image (a ZIP tool scanning the
// whole file must not take bytes of the stub for records).
extern uint8_t LocalHeaderSignature[4];
extern uint8_t CentralHeaderSignature[4];
extern uint8_t EndRecordSignature[4];
extern uint8_t Zip64EndSignature[4];
extern uint8_t Zip64LocatorSignature[4];
// Completes the five signatures; any number of calls leave the same result.
void CompleteSignatures();

// ---- The Windows image --------------------------------------------------------

enum : uint32_t {
  PeDosOffset = 0x3C,            // 32-bit offset of the "PE\0\0" signature
  PeFileHeaderSize = 20,
  PeFileSectionCount = 2,        // 16-bit, in the file header
  PeFileOptionalSize = 16,       // 16-bit SizeOfOptionalHeader
  PeOptionalSubsystem = 68,      // the same offset in PE32 and PE32+
  PeSectionEntrySize = 40,
  PeSectionRawSize = 0x10,       // SizeOfRawData
  PeSectionRawPointer = 0x14,    // PointerToRawData
};

// The rest of the image's headers that sfxmake rewrites when it puts a publisher's
// resources into a stub. Optional-header fields count from the optional header's
// start; where PE32 and PE32+ differ, both offsets are named.
enum : uint32_t {
  PeOptionalMagic = 0,            // 16-bit: PeMagic32 or PeMagic64
  PeOptionalInitializedSize = 8,  // SizeOfInitializedData
  PeOptionalSectionAlign = 32,
  PeOptionalFileAlign = 36,
  PeOptionalImageSize = 56,       // SizeOfImage
  PeOptionalHeadersSize = 60,     // SizeOfHeaders
  PeOptionalChecksum = 64,
  PeOptionalDirCount32 = 92,      // NumberOfRvaAndSizes
  PeOptionalDirCount64 = 108,
  PeOptionalDirs32 = 96,          // data directories: 8 bytes each, RVA and size
  PeOptionalDirs64 = 112,
  PeDirEntrySize = 8,
  PeDirSecurity = 4,              // the one data directory that holds a file offset
  PeDirResource = 2,
  PeDirBaseReloc = 5,
  PeSectionVirtualSize = 0x08,
  PeSectionVirtualAddress = 0x0C,
  PeSectionCharacteristics = 0x24,
  PeSectionInitializedData = 0x40,  // a Characteristics bit: counts in SizeOfInitializedData
  PeMagic32 = 0x10B,
  PeMagic64 = 0x20B,
};
static_assert(PeOptionalDirs32 == PeOptionalDirCount32 + 4 && PeOptionalDirs64 == PeOptionalDirCount64 + 4,
              "the data directories follow their count");

// The image's headers as the first `size` bytes of its file (or of its mapping,
// which keeps them byte for byte). Finds where the last section's raw data ends:
// the configuration block starts there. The section table follows the optional
// header, whose size the file header records (224 bytes for a 32-bit image, 240
// for a 64-bit one). False when the headers are not those of a Windows image or
// run past `size`; *fileHeader then is 0.
struct ImageLayout {
  uint32_t FileHeader;   // offset of the file header, behind "PE\0\0"
  uint16_t Machine;
  uint16_t Subsystem;    // 0 when the optional header is too short to say
  uint64_t End;          // largest PointerToRawData + SizeOfRawData
};
bool ReadImageLayout(const uint8_t *headers, uint64_t size, ImageLayout *layout);

// ---- The configuration block ---------------------------------------------------

// Header (18 bytes at the image end), texts, filler, then the 8-byte trailer.
enum : uint32_t {
  CfgSignature = 0,       // 4: 'Q','F',0,1
  CfgTrailerOffset = 4,   // 2: trailer's offset from the block start
  CfgOptions = 6,         // 2: Opt* bits
  CfgOverwriteMode = 8,   // 1
  CfgTitleLength = 9,     // 1
  CfgFolderLength = 10,   // 1
  CfgRunLength = 11,      // 1
  CfgReserved = 12,       // 1: written as 0, never read
  CfgMessageLength = 13,  // 1
  CfgMessageStyle = 14,   // 4: message box style of the start question
  CfgHeaderSize = 18,
  CfgTrailerSize = 8,     // trailer signature 'Q','F',10,1 and the block length
  CfgMaxTextLength = 255, // each text length is one byte
};
static_assert(CfgMessageStyle + 4 == CfgHeaderSize, "configuration header is 18 bytes");

// Options bits.
enum : uint16_t {
  OptRunCheckBox = 0x0001,
  OptSelectFiles = 0x0002,
  OptHideOverwrite = 0x0004,
  OptAutoUnzip = 0x0008,
  OptNoDoneMessage = 0x0010,
  OptHideFileList = 0x0040,
  OptNoShowFiles = 0x0080,
  OptAllowCancel = 0x0200,
  OptUtf8Texts = 0x0400,   // the four texts are UTF-8, not the ANSI code page
  OptWaitForRun = 0x0800,  // wait for the program run after unzip; its exit code becomes the stub's
  OptWaitForAll = 0x1000,  // with OptWaitForRun: wait for the processes that program starts as well
  OptCleanUp = 0x2000,     // at the end, remove the files and folders the stub created (never older ones)
};

// The caption of the stub's messages when the block gives no title (a macro, so
// that texts of the stub and of sfxmake can be written around it).
#define CFG_DEFAULT_TITLE "Unzip to disk"

// OverwriteMode values; the main dialog's radio button of a mode is IdOverwrite + mode.
enum : uint8_t { ModeOverwrite = 0, ModeDontOverwrite = 1, ModeAsk = 2 };

struct ConfigHeader {
  uint16_t TrailerOffset;
  uint16_t Options;
  uint8_t OverwriteMode;   // changes at run time (radio buttons, prompt)
  uint8_t TitleLength;
  uint8_t FolderLength;
  uint8_t RunLength;
  uint8_t MessageLength;
  uint32_t MessageStyle;
};
// False when the 18 bytes do not start with the block's signature.
bool DecodeConfigHeader(const uint8_t *bytes, ConfigHeader *header);
void EncodeConfigHeader(const ConfigHeader &header, uint8_t *bytes);
// The four bytes at TrailerOffset; the block length behind them is never needed.
bool IsConfigTrailer(const uint8_t *bytes);
void EncodeConfigTrailer(uint32_t trailerOffset, uint8_t *bytes);
// Whether an answer to the start question ends the program (Cancel, Abort, No,
// or the box closed), by the message box's numbers for the answers.
bool StartAnswerDeclines(int answer);

// ---- End record ---------------------------------------------------------------

enum : uint32_t {
  EndThisDisk = 4,         // 2
  EndDirectoryDisk = 6,    // 2
  EndDiskEntries = 8,      // 2
  EndTotalEntries = 10,    // 2
  EndDirectorySize = 12,   // 4
  EndDirectoryOffset = 16, // 4
  EndCommentLength = 20,   // 2
  EndRecordSize = 22,
  EndRecordWindow = 65558, // 22 + 65536: the end record with the longest comment, and one byte
};

// The end record as read, 32-bit or ZIP64: the ZIP64 end record carries the same
// fields at full width, and the 32-bit one then often holds only markers
// (0xFFFF, 0xFFFFFFFF) where a value did not fit.
struct EndRecord {
  uint32_t ThisDisk;
  uint32_t DirectoryDisk;
  uint64_t DiskEntries;
  uint64_t TotalEntries;
  uint64_t DirectorySize;
  uint64_t DirectoryOffset;
  uint16_t CommentLength;        // 0 in a ZIP64 end record, which has none
};
void DecodeEndRecord(const uint8_t *bytes, EndRecord *record);

// How many bytes at the end of a file of fileSize bytes are searched for the end
// record of an archive that starts at archiveStart; 0 when there is no room for one.
uint32_t EndRecordWindowSize(uint64_t fileSize, uint64_t archiveStart);
// Position of the first end-record signature in the window that leaves a whole
// record behind it, or -1. The first one wins: a signature in the comment never
// counts, one inside the last member's data does.
int32_t FindEndSignature(const uint8_t *window, uint32_t length);

// Where the archive's offsets count from and where the central directory
// starts: it is taken to end exactly where the record at endAt begins (the end
// record, or the ZIP64 end record when there is one), so the base is that
// position less the recorded offset and size. Positions are 64-bit and wrap, so
// that a base below the file's start still adds up with the offsets. False for
// an empty directory (an archive without members) or one larger than what
// precedes the record.
bool LocateDirectory(uint64_t endAt, const EndRecord &record, uint64_t *archiveBase, uint64_t *directoryStart);

// ---- ZIP64 end record and locator ------------------------------------------------

// The locator stands right before the end record and records where the ZIP64
// end record is; that record holds the end record's fields at full width.
enum : uint32_t {
  Zip64LocatorDisk = 4,          // 4: disk holding the ZIP64 end record
  Zip64LocatorEndOffset = 8,     // 8: recorded offset of the ZIP64 end record
  Zip64LocatorDisks = 16,        // 4: number of disks
  Zip64LocatorSize = 20,
  Zip64EndLength = 4,            // 8: the record's length behind this field
  Zip64EndVersionMadeBy = 12,    // 2
  Zip64EndVersionNeeded = 14,    // 2
  Zip64EndThisDisk = 16,         // 4
  Zip64EndDirectoryDisk = 20,    // 4
  Zip64EndDiskEntries = 24,      // 8
  Zip64EndTotalEntries = 32,     // 8
  Zip64EndDirectorySize = 40,    // 8
  Zip64EndDirectoryOffset = 48,  // 8
  Zip64EndSize = 56,             // the fixed part; extensible data may follow
  Zip64EndLeadSize = 12,         // signature and length field, not counted by the length
};
static_assert(Zip64LocatorDisks + 4 == Zip64LocatorSize, "the locator is 20 bytes");
static_assert(Zip64EndDirectoryOffset + 8 == Zip64EndSize, "last field ends the fixed part");

// The recorded offset of the ZIP64 end record, from the 20 bytes before the end
// record; false when they are no locator.
bool DecodeZip64Locator(const uint8_t *bytes, uint64_t *recordOffset);
// The fields of a ZIP64 end record from its fixed part (Zip64EndSize bytes);
// false without its signature or with a length too short for the fixed part.
bool DecodeZip64EndRecord(const uint8_t *bytes, EndRecord *record);

// Reads `count` bytes at file position `at` for the core; false when they
// cannot all be read. `context` is the caller's, passed through.
typedef bool (*ReadAtRoutine)(void *context, uint64_t at, uint8_t *bytes, uint32_t count);

// Completes the end record found at endAt (already decoded into *record) with
// the ZIP64 end record when a locator stands right before it. The ZIP64 end
// record is looked for where writers put it, right before the locator; then,
// for one with extensible data, where the locator says, counted from the
// archive's first byte and from the file's start. Found, it replaces *record and
// *directoryEnd is its position (the directory ends there); otherwise *record
// stays as it is and *directoryEnd is endAt. False only when a locator is there,
// no ZIP64 end record is, and the 32-bit fields hold markers: the directory
// cannot be found then.
bool ReadZip64EndRecord(ReadAtRoutine readAt, void *context, uint64_t endAt, uint64_t archiveStart,
                        EndRecord *record, uint64_t *directoryEnd);

// ---- Central directory ---------------------------------------------------------

// General purpose flags and methods.
enum : uint16_t {
  FlagEncrypted = 0x0001,
  FlagLzmaEndMarker = 0x0002,    // an LZMA member's stream ends with the end marker
  FlagDataDescriptor = 0x0008,   // sizes and CRC follow the data
  FlagStrongEncryption = 0x0040,
  FlagUtf8Name = 0x0800,
  MethodStored = 0,
  MethodDeflated = 8,
  MethodLzma = 14,               // a 9-byte header, then a raw LZMA stream (lzmadec.h)
  // A member of a solid block: one byte, SolidOpensBlock for the block's first
  // member ORed with the block's LZMA2 dictionary-size code (0..40), then the
  // LZMA2 chunks that produce exactly the member's bytes, continuing the
  // dictionary and coder of the members before it in the block (lzmadec.h).
  // The ZIP application note assigns no method 76.
  MethodSolid = 76,
};
enum : uint8_t { SolidOpensBlock = 0x80 };  // in a solid member's first byte

// The central directory file header's fixed part (46 bytes), kept verbatim.
struct ArchiveEntry {
  uint8_t Bytes[46];
};
enum : uint32_t {
  EntrySignature = 0,
  EntryVersionMadeBy = 4,
  EntryVersionNeeded = 6,
  EntryFlags = 8,
  EntryMethod = 10,
  EntryDosTime = 12,
  EntryDosDate = 14,
  EntryCrc32 = 16,
  EntryCompressedSize = 20,
  EntryUncompressedSize = 24,
  EntryNameLength = 28,
  EntryExtraLength = 30,
  EntryCommentLength = 32,
  EntryDiskStart = 34,
  EntryInternalAttributes = 36,
  EntryExternalAttributes = 38,
  EntryLocalHeaderOffset = 42,
  EntrySize = 46,
  MaxNameLength = 520,     // longest member name a reader accepts
};
static_assert(sizeof(ArchiveEntry) == EntrySize, "ArchiveEntry is the 46-byte fixed part");
static_assert(EntryLocalHeaderOffset + 4 == EntrySize, "last field ends the record");

inline uint16_t Field16(const ArchiveEntry &e, uint32_t offset) { return GetLE16(e.Bytes + offset); }
inline uint32_t Field32(const ArchiveEntry &e, uint32_t offset) { return GetLE32(e.Bytes + offset); }

// One central directory record as read: the fixed part, the name's bytes as
// stored, and the extra field when the archive holds it whole.
struct DirectoryRecord {
  ArchiveEntry Entry;
  char Name[MaxNameLength + 1];  // NameLength bytes, then a zero byte
  uint32_t NameLength;           // 1..MaxNameLength
  const uint8_t *Extra;          // valid until the next read; null when the archive ends inside it
  uint16_t ExtraLength;          // 0 when Extra is null
  uint64_t Offset;               // of the record, counted from where the reader started
};

// A member encrypted with AES is recorded with the method MethodAes and the AES
// field (0x9901): its version (1: the CRC-32 is checked as well; 2: the CRC
// field holds 0 and the authentication code alone decides), the vendor "AE",
// the key strength (1, 2, 3: AES-128, -192, -256) and the real compression
// method. Its data starts with the salt and the password verifier and ends with
// the authentication code (aes.h).
enum : uint16_t { MethodAes = 99, AesFieldId = 0x9901 };
enum : uint32_t { AesFieldSize = 7 };
struct AesInfo {
  uint8_t Version;               // 1 or 2; 0: no field of a known version and strength
  uint8_t Strength;              // 1..3
  uint16_t Method;               // the method the data is compressed with
};
AesInfo ExtraFieldAes(const uint8_t *extra, uint32_t length);

// What a reader keeps of a member: the fixed part of its central record and
// what the record's extra field adds to it.
struct MemberInfo : ArchiveEntry {
  uint64_t ModifiedUtc;          // exact last-write time (FILETIME ticks: 100 ns since 1601, UTC); 0: none
  uint64_t CompressedSize;       // the sizes and the offset at full width: from the fixed part,
  uint64_t UncompressedSize;     // or from the ZIP64 field where the fixed part holds 0xFFFFFFFF
  uint64_t LocalHeaderOffset;
  AesInfo Aes;                   // an AES member's field; Version 0 for every other member
  uint64_t DataLimit;            // where its data must end at the latest, counted from the archive
                                 // base: set by MemberSpanLimit once the whole directory is read
};
// The method that decodes a member's data: its own, an AES member's real one
// (MethodAes itself, which no decoder knows, when its field is missing).
uint16_t DataMethod(const MemberInfo &member);
// Takes the member's information from a record as read. False when a field of
// the fixed part holds 0xFFFFFFFF and the extra field has no ZIP64 value for it
// (the field then keeps 0xFFFFFFFF): a damaged record.
bool DescribeMember(const DirectoryRecord &record, MemberInfo *info);

// The ZIP64 extended-information field (0x0001) holds, in this order, the
// uncompressed size, the compressed size and the local header offset, each as 8
// bytes and each only when its 32-bit field holds 0xFFFFFFFF. A local header's
// field holds the sizes alone.
enum : uint16_t { Zip64FieldId = 0x0001 };
enum : uint32_t { Zip64Marker = 0xFFFFFFFF };
enum Zip64Value : uint8_t { Zip64Uncompressed, Zip64Compressed, Zip64LocalHeaderOffset, Zip64ValueCount };
// Where the values stand: for every value whose 32-bit field holds the marker
// (saturated[value]), its offset inside `extra`, else -1. False when the extra
// field lacks the ZIP64 field or a value the marker asks for.
bool FindZip64Values(const uint8_t *extra, uint32_t length, const bool saturated[Zip64ValueCount],
                     int32_t places[Zip64ValueCount]);

// Where a member's local header and data lie, counted from the archive base:
// its local header's fixed part, its name (as long as the directory's copy)
// and its compressed data. Two members whose spans overlap share bytes: a
// damaged or crafted archive (one stream listed a thousand times unpacks to
// a thousand times its size).
struct MemberSpan {
  uint64_t Start;                // LocalHeaderOffset
  uint64_t End;                  // one past the last data byte; saturates instead of wrapping
};

// Reads the central directory front to back through ReadArchive, from the
// archive's position when it is opened, with one read-ahead buffer: one system
// read serves many records. Extra fields and comments are passed over by
// reading; a reader whose archive ended inside them fails at the next record,
// as a reader that sought past the end of the file and read there would.
struct DirectoryReader {
  uint8_t *Buffer;       // read-ahead; Buffer[Pos..Length) not yet used
  uint32_t Pos;
  uint32_t Length;
  uint32_t Skip;         // bytes still to pass over before the next record
  uint64_t Consumed;     // bytes used or passed over so far
  uint64_t Size;         // the directory's recorded size: records are read until it is used up
  uint64_t Expected;     // the end record's count of records
  uint64_t DirectoryOffset;  // where the directory starts, counted from the archive base
  bool CountWraps;       // the count is the 32-bit end record's 16-bit field: archives written
                         // without ZIP64 wrap it past 65,535 records
  uint64_t Records;      // records read so far
  MemberSpan *Spans;     // one per record read, for the overlap check at the end
  size_t SpanCount;      // spans kept: Records, in a count the block's size can hold
  size_t SpanRoom;       // spans the block holds
};
// A reader of the directory that `end` describes (the ZIP64 end record's fields
// when `zip64`), already positioned at the directory's first byte.
void OpenDirectoryReader(DirectoryReader *reader, const EndRecord &end, bool zip64);
void CloseDirectoryReader(DirectoryReader *reader);
// Reads the next record, without the checks of the directory as a whole. False
// when the archive ends inside its fixed part or name, when it lacks the
// signature, or when its name is empty or longer than MaxNameLength: each a
// damaged archive.
bool ReadDirectoryRecord(DirectoryReader *reader, DirectoryRecord *record);

// What reading the directory member by member found.
enum class DirectoryStep : uint8_t {
  Member,        // *record and *member hold the next member
  End,           // the directory's size is used up, the records agree with the end
                 // record's count, and no two members share bytes
  BadRecord,     // a record is cut short, lacks its signature, or its name is empty or too long
  BadZip64Field, // a record's sizes or offset ask for a ZIP64 value its extra field lacks
  BadCount,      // the records run past the directory's size, or fill it and disagree with
                 // the count (modulo 65,536 where the count wraps)
  Overlap,       // two members' spans overlap, or one reaches into the directory
};
// The directory as every reader takes it: records until the recorded size is
// used up, so that an end record whose 16-bit count wrapped (more than 65,535
// members written without ZIP64) still yields every member, while any other
// disagreement, and members sharing bytes, make the archive damaged.
DirectoryStep ReadDirectoryMember(DirectoryReader *reader, DirectoryRecord *record, MemberInfo *member);
// The check behind Overlap: sorts the spans by start. False when one overlaps
// the next or the last reaches past directoryOffset.
bool SpansApart(MemberSpan *spans, size_t count, uint64_t directoryOffset);
// After ReadDirectoryMember gave End, before the reader is closed: the end of
// the room the member at localHeaderOffset has, which is the start of the next
// member's span, or the directory. The span above counts the directory's name
// length; the local header's own name and extra field may be longer and move
// the data on, but never past this limit, or a long local extra field could
// swallow the next member and two members would share one stream.
uint64_t MemberSpanLimit(const DirectoryReader *reader, uint64_t localHeaderOffset);
// Whether the member's data, placed behind its local header (skip: the local
// name and extra field, LocalHeaderSkip) lies within its DataLimit.
bool MemberDataFits(const MemberInfo &member, uint32_t skip);

// ---- Local header -------------------------------------------------------------

enum : uint32_t {
  LocalHeaderVersion = 4, LocalHeaderFlags = 6, LocalHeaderMethod = 8, LocalHeaderDosTime = 10, LocalHeaderDosDate = 12,
  LocalHeaderCrc32 = 14, LocalHeaderCompressed = 18, LocalHeaderUncompressed = 22,
  LocalNameLength = 26,
  LocalExtraLength = 28,
  LocalHeaderSize = 30,
  CryptHeaderSize = 12,    // in front of encrypted data
  MaxPasswordLength = 80,  // the longest password the stub takes
};
// The bytes between the local header's fixed part and the member's data (its
// own name and extra lengths, which may differ from the directory's). False
// without the local header signature.
bool LocalHeaderSkip(const uint8_t *local, uint32_t *skip);

// ---- Member names -------------------------------------------------------------

// What a name's bytes are, before the reader's platform turns them into text,
// in this order: a name flagged as UTF-8 that is valid UTF-8 is UTF-8; else the
// Unicode Path extra field (0x7075) gives it in UTF-8 when its CRC-32 matches the
// stored name; else names from MS-DOS and OS/2 hosts, and from the NTFS host as
// version 5.0 tools wrote it, are in the OEM code page; else a name from a Unix
// host that is valid UTF-8 and not plain ASCII is UTF-8 (tools there write such
// names without the flag); every other name is in the ANSI code page.
bool NameIsFlaggedUtf8(const ArchiveEntry &entry);
bool NameIsOem(const ArchiveEntry &entry);
bool NameIsFromUnix(const ArchiveEntry &entry);
// The UTF-8 name of a Unicode Path field whose CRC-32 matches the stored name
// (the CRC table must be built); false when there is none.
bool ExtraFieldUnicodePath(const uint8_t *extra, uint32_t length, const char *storedName, uint32_t storedLength,
                           const char **utf8, uint32_t *utf8Length);
// '/' becomes '\' in the name's bytes.
void SeparatorsToBackslashes(char *name, uint32_t length);
// A name ending with a separator is a folder member: it is not listed, and the
// folders are made from the files' paths.
bool IsFolderName(const char *name, uint32_t length);

// Why a member may not be written, judged on its name as the system will see it
// (UTF-8, either separator): a leading separator or any colon, or a
// component made only of dots and blanks with at least two dots (the system drops
// trailing dots and blanks, so "..." climbs like ".."), lead outside the target
// folder; CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9 and LPT1-9 (the
// superscript digits 1, 2 and 3 too), with any extension and blanks before it,
// name devices.
enum NameRefusal : uint8_t { NameAccepted, NameLeavesFolder, NameIsDevice };
NameRefusal RefuseName(const char *name, uint32_t length);

#endif
