// The package's compressed stream format and the two entry points that
// decode one stream from a file into memory or into another file.
//
// The format is Deflate (RFC 1951) with three changes: a 4-bit block head
// (bits 0-2 kind: 5 fixed, 6 dynamic, 7 stored; bit 3 final), the
// code-length code lengths in the order 18 17 16 0 1 ... 15, and stored
// blocks with LEN but no NLEN. Distances before the first output byte
// give zeros. docs/package-format.md describes it in full.
//
// The careful bit reader takes a byte only when the bits at hand are fewer
// than a lookup needs, and the first-level table widths are cut so that
// the end-of-block code ends on a table boundary; the fast path reads
// ahead a word at a time but only while the input buffer holds more, and
// gives the whole bytes it did not use back to it. A decode therefore
// stops right after the last byte of its stream, and streams can sit back
// to back in one file.
#pragma once

#include <cstdint>

#include "../shared/platform.h"
#include "sink.h"

namespace zevrin {

// Results of Decode, and of BuildHuffmanTable where they overlap.
enum : int {
    DecodeOk = 0,
    DecodeBadData = 1,     // invalid code, bad counts, incomplete code, truncated stream
    DecodeBadBlock = 2,    // block kind other than 5, 6, 7, or over-subscribed code
    DecodeOutOfMemory = 3,
    DecodeWriteFailed = 4, // DecodeToFileResult: the output file took not all of it
};
// BuildHuffmanTable only: the code has unused patterns (they decode as
// invalid).
const int TableIncomplete = 1;
const int TableOverSubscribed = 2;

const uint32_t WindowSize = 32768;
const uint32_t SourceBufferSize = 4096;

// One slot of a lookup table. op: 0..13 base with that many extra bits;
// 15 end of block; 16 literal (or code-length symbol); 17..32 sub-table
// of op - 16 bits, `value` entries after its code's first-level table;
// 100 invalid code.
struct HuffmanEntry {
    uint8_t op;
    uint8_t bits;
    uint16_t value;
};

enum : uint8_t { OpEndOfBlock = 15, OpLiteral = 16, OpInvalid = 100 };

// The tables of one decode, in one array: each built at `used`, given
// back by setting `used` back to where it began. The array grows (and
// moves: tables are known by their offset) only when a code needs more
// than it has.
struct TableSpace {
    HuffmanEntry* entries = nullptr;
    uint32_t size = 0;
    uint32_t used = 0;
};
const uint32_t NoTable = 0xFFFFFFFF; // an all-zero set of lengths

bool ReserveTableSpace(TableSpace* space);
void ReleaseTableSpace(TableSpace* space);

// Returns 0 complete, 1 incomplete, 2 over-subscribed, 3 out of memory
// (also for a code whose tables would take more than 65536 entries). On 0
// and 1 *table (the offset of its first level in `space`, or NoTable for
// an all-zero set of lengths) and *actualWidth are set.
int BuildHuffmanTable(const uint8_t* lengths, unsigned n, unsigned simpleCount,
                      const uint16_t* bases, const uint16_t* extras, unsigned width,
                      TableSpace* space, uint32_t* table, unsigned* actualWidth, unsigned endLength = 0);

// The object of one decode: byte source, sink, and decoder state. Lives on
// the caller's stack around one entry-point call.
struct StreamDecoder {
    StreamDecoder() {}
    ~StreamDecoder() { ReleaseSource(); }
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // --- byte source ---
    // limit 0: unbounded (reads to the end of the file, no volume
    // change); otherwise the number of bytes this source may request, read
    // across package volumes.
    bool OpenSource(FileHandle handle, uint32_t limit);
    // A source over bytes already in memory; nothing is given back.
    void OpenMemorySource(const uint8_t* data, uint32_t size);
    bool NextByte(uint8_t* byte);
    void FillBuffer();
    void ReleaseSource();

    // --- decoder ---
    int Decode();

    uint8_t* buffer = nullptr;
    const uint8_t* cursor = nullptr;
    uint32_t available = 0;
    FileHandle handle = INVALID_FILE_HANDLE;
    uint32_t limit = 0;
    bool bounded = false;
    bool ownsBuffer = false;
    OutputSink* sink = nullptr;

    uint32_t codeLengthOrder[19];
    uint16_t lengthBase[32];
    uint16_t lengthExtra[32];
    uint16_t distanceExtra[30];
    uint16_t distanceBase[32];
    TableSpace tables;
    uint32_t fixedLiteralTable = NoTable;
    uint32_t fixedDistanceTable = NoTable;
    unsigned fixedLiteralWidth = 0;
    unsigned fixedDistanceWidth = 0;
    uint32_t windowPos = 0;
    uint32_t bitBuffer = 0;
    unsigned bitCount = 0;
    uint8_t* window = nullptr;
    // Set when the window ring has been filled once: before that, the
    // bytes ahead of the newest one were never written, and a distance
    // reaching them reads zeros.
    bool wrapped = false;
    // Set when the stream asked for bits its source did not have: the
    // stream is truncated, and the decode ends as bad data.
    bool ranDry = false;
    // Set when the next package volume could not be had: the source gives
    // nothing more and the decode ends as failed. (A flag rather than an
    // exception keeps the unwinder out of the stub.)
    bool abandoned = false;

private:
    void NeedBits(unsigned n);
    void DropBits(unsigned n);
    int DecodeCodes(const HuffmanEntry* literals, const HuffmanEntry* distances,
                    unsigned literalWidth, unsigned distanceWidth);
    int DecodeFast(const HuffmanEntry* literals, const HuffmanEntry* distances,
                   unsigned literalWidth, unsigned distanceWidth);
    uint32_t CopyFromOlderHalf(uint8_t* out, uint32_t distance, uint32_t length);
    const HuffmanEntry* CarefulLookup(const HuffmanEntry* table, unsigned width);
    uint32_t ExtraBits(unsigned n);
    int DecodeFixedBlock();
    int DecodeDynamicBlock();
    int DecodeStoredBlock();
    void FlushWindow();
    uint32_t FlushHalf(uint32_t pos);
    void FillTables();
};

// Frees the window a finished decode left for the next one.
void ReleaseSpareWindow();

// Opens the next volume of the file-data region (or reopens the current
// one to resume after a failed read), prompting for its disk.
FileHandle OpenNextVolume();

// ".D01" for volume 1, ".D100" for volume 100 (at least two digits).
void VolumeExtension(uint32_t number, char* out);

// "SETUP.EXE" + ".D01" -> "SETUP.D01"; no extension (or a '\' after the
// last '.'): appended.
void ReplaceExtension(char* path, const char* extension);

// Decode one stream that starts at the handle's position; afterwards the
// handle stands right after the stream's last byte. limit 0 = unbounded.
// DecodeToMemory fills at most `capacity` bytes; the two-argument form
// takes the capacity from BlockSize(destination).
bool DecodeToMemory(uint8_t* destination, uint32_t capacity, FileHandle handle, uint32_t limit);
bool DecodeToMemory(uint8_t* destination, FileHandle handle, uint32_t limit);
bool DecodeToFile(FileHandle outputHandle, FileHandle packageHandle, uint32_t limit);
// DecodeToFile with the reason of a failure, as DecodeToMemoryResult, and
// DecodeWriteFailed when a write to the output failed (the stream was
// still read to its end). `written`, when given, sums every byte the
// output took. An `observer` that answers false ends the decode with -1,
// as an abandoned volume set does.
int DecodeToFileResult(FileHandle outputHandle, FileHandle packageHandle, uint32_t limit,
                       RunningSum* written = nullptr, WriteObserver observer = nullptr);
// DecodeToMemory with the reason of a failure: DecodeOk, DecodeBadData
// (also for output that did not fit), DecodeBadBlock, DecodeOutOfMemory
// (also when the decode could not start), -1 for a volume set the user
// gave up on.
int DecodeToMemoryResult(uint8_t* destination, uint32_t capacity, FileHandle handle, uint32_t limit);

// Decodes a stream held in memory into a buffer of `capacity` bytes (for
// tools, tests, fuzzing and benchmarks). Returns the Decode result, or
// DecodeBadData when the output did not fit; *produced receives the bytes
// written and *consumed the input bytes the stream occupied.
int DecodeBuffer(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                 uint32_t* produced, uint32_t* consumed);

} // namespace zevrin
