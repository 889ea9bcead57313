/* datafile.h -- the data file (.kvd): everything an import produced, written
** by SaveDataFile and read back by ReadDataFile.
**
** Owns:       nothing of its own: the reader fills the loaded data of the
**             symbol store (gStore, symbols.h) and the writer writes it.
** Format:     little-endian.  A Bar, EventItem, FundamentalItem and SymbolInfo
**             have the same bytes in the file as in memory, so arrays of them
**             are read and written whole.  In order:
**
**               header            312 bytes (304 before version 0.34)
**               list names        listNameCount x 80, NUL-terminated in the field
**               note              noteLength bytes including its NUL (absent at 0)
**               date lists        daily, weekly, monthly, quarterly, yearly:
**                                 stored length x u32, the last one the 0
**               per symbol        SymbolInfo 1384, SymbolTrailer 40,
**                                 bars of the five sizes (count x 64 each),
**                                 events (count x 24), fundamentals (x 16)
**
**             Header:
**               off  size  field
**               0    4     version, f32 (0.34 written)
**               4    4     symbol record size (1424)
**               8    4     bar size (64)
**               12   4     event size (24)
**               16   4     KeepAdjusted flag
**               20   4     symbol count
**               24   4     daily list length (count + 1)
**               28   4     weekly list length
**               32   4     monthly list length
**               36   4     note length
**               40   4     fundamentals per symbol
**               44   4     list-name count (at most 256)
**               48   256   constituency ids: up to 64 u32, 0-terminated
**               304  4     quarterly list length (0.34 only)
**               308  4     yearly list length (0.34 only)
**
**             Symbol trailer:
**               0 daily count  4 weekly count  8 monthly count  12 event count
**               16 first date  20 last date  24 data source  28 security type
**               32 quarterly count  36 yearly count
**             Older versions store a shorter information block and a 24- or
**             32-byte trailer (see the version table in datafile.cpp); the
**             reader converts them to the current layout.
** Errors:     1 success, 0 after reporting once.  A failed load sets result
**             code 7 and leaves nothing loaded; a failed save sets result code
**             3 and leaves the old file as it was.
** Input:      every count read from a file is checked against the bytes that
**             remain and against the table it indexes before it is used, so a
**             damaged file fails cleanly and never causes an allocation larger
**             than the file could fill.  Every date read (date lists, trailer
**             first and last dates, bar dates) must lie in 10000101..99991231,
**             0 only as a trailer date of a symbol without bars; a file that
**             holds another is refused as damaged, with the message of the
**             block that holds it.
** Threads:    UI thread only; both pump messages every tenth symbol.
** Sizes:      thousands of symbols, ~10,000 bars each; reading is a handful of
**             whole-block reads per symbol, straight into the bar arrays.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/symbols.h"
#include "platform/platform.h"

enum {
    DATA_HEADER_SIZE = 312,
    DATA_HEADER_SIZE_OLD = 304, /* before version 0.34 */
    SYMBOL_INFO_SIZE = 1384,
    SYMBOL_TRAILER_SIZE = 40,
    DATA_SYMBOL_RECORD_SIZE = SYMBOL_INFO_SIZE + SYMBOL_TRAILER_SIZE,
    DATA_BAR_SIZE = 64,
    DATA_EVENT_SIZE = 24,
    DATA_FUNDAMENTAL_SIZE = 16,
    MAX_LIST_NAMES = 256
};
static_assert(sizeof(SymbolInfo) == SYMBOL_INFO_SIZE, "information block size");
static_assert(sizeof(Bar) == DATA_BAR_SIZE, "bar record size");
static_assert(sizeof(EventItem) == DATA_EVENT_SIZE, "event record size");
static_assert(sizeof(FundamentalItem) == DATA_FUNDAMENTAL_SIZE, "fundamentals item size");
/* Arrays of records go to and from the file as they lie in memory. */
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the data file is little-endian like the host");

/* The version the writer stores (bits 0x3EAE147B). */
#define DATA_FILE_VERSION 0.34f
/* The oldest version the reader converts. */
#define DATA_FILE_OLDEST_VERSION 0.27f

struct DataFileHeader {
    float version;
    uint32_t symbolRecordSize;
    uint32_t barSize;
    uint32_t eventSize;
    uint32_t keepAdjusted;
    uint32_t symbolCount;
    uint32_t listLengths[BAR_SIZE_COUNT]; /* stored at 24, 28, 32, 304, 308 */
    uint32_t noteLength;
    uint32_t fundamentalsCount;
    uint32_t listNameCount;
    uint8_t constituencyIds[CONSTITUENCY_ID_BYTES];
};

struct SymbolTrailer {
    uint32_t barCounts[BAR_SIZE_COUNT]; /* stored at 0, 4, 8, 32, 36 */
    uint32_t eventCount;
    int32_t firstDate;
    int32_t lastDate;
    int32_t dataSource;
    int32_t securityType;
};

/* How one stored version lays out a symbol record. */
struct DataFileLayout {
    float version;         /* the f32 constant the stored version is compared with */
    uint32_t infoBytes;    /* stored SymbolInfo bytes */
    uint32_t trailerBytes; /* stored trailer bytes: 24, 32 or 40 */
    uint32_t recordSize;   /* infoBytes + trailerBytes, as the header states it */
};

/* ---- format helpers ------------------------------------------------------------- */

/* The layout of a stored version; 0 for a version before 0.27. */
int GetDataFileLayout(float version, DataFileLayout *layout);
/* Header bytes as stored: 312 from 0.34 on, else 304. */
uint32_t DataHeaderSize(float version);
/* Decodes size header bytes (304 or 312); fields not stored are 0. */
void DecodeDataFileHeader(const uint8_t *bytes, uint32_t size, DataFileHeader *header);
/* Encodes the current 312-byte header. */
void EncodeDataFileHeader(const DataFileHeader *header, uint8_t out[DATA_HEADER_SIZE]);
/* Decodes a trailer of size bytes (24, 32 or 40); fields not stored are 0. */
void DecodeSymbolTrailer(const uint8_t *bytes, uint32_t size, SymbolTrailer *trailer);
void EncodeSymbolTrailer(const SymbolTrailer *trailer, uint8_t out[SYMBOL_TRAILER_SIZE]);
/* Turns one symbol record of an older version into the current layout, in
** place: record holds the stored information bytes at 0 (the rest zero) and
** the decoded trailer.  listNameCount bounds the old list mask. */
void ConvertSymbolRecord(uint8_t record[SYMBOL_INFO_SIZE], SymbolTrailer *trailer, const DataFileLayout *layout,
                         uint32_t listNameCount);

/* ---- reading and writing ------------------------------------------------------------ */

/* An open data file being read, with the bytes left in it. */
struct DataFileReader {
    PlatFile file;
    const char *path;
    uint64_t remaining;
};

/* Reads length u32 dates into list (grown when needed); count = length - 1,
** and an empty list (length 0) is a list of no dates.  A length the file
** cannot hold, a failed read or a date outside 10000101..99991231: "Unable to
** read the date list", 0 (the list then holds no dates). */
int ReadDateList(DataFileReader *reader, DateList *list, uint32_t length);

/* Reads the file at path (asking for one when ask is set or path is null or
** "") into the loaded data; the caller has unloaded the old data.  The file
** read becomes the DataFile setting.  1 loaded; 0 not loaded (cancel, or a
** failure: reported, result code 7, nothing left loaded). */
int ReadDataFile(const char *path, int ask);
/* 1 when the loaded data file is no longer as it was loaded or saved here:
** another program (an import of either build) replaced or rewrote it.  0 with
** nothing loaded, and for a file that cannot be looked at now (removed or
** moved meanwhile: the loaded data stay what there is). */
int LoadedDataFileChanged();

/* Writes the loaded data to path (null or "": ask for one), with import (the
** Import section of the script that produced the data, null or "" for none)
** as the file's note.  The file is written beside the old one, to a
** temporary file of this save alone ("<path>.~kv" of the file path finally
** names, links followed; created exclusively), and renamed over it when
** complete.  Another save of the same file, by any name, still writing its
** own makes this one fail and say so, and a stop request before
** the rename abandons it.  1 written; 0 not (cancel, stop, or a failure:
** reported, result code 3, old file kept, no temporary file left). */
int SaveDataFile(const char *path, const char *import);
/* Null, or called while a save holds the data file's temporary file, before
** it writes: where the programs' tests hold two imports of one data file. */
extern void (*gDataFileTempHeld)(const char *path);
/* Removes the temporary file a killed save of the data file path left
** behind; one that another save is writing stays.  Nothing for an empty path. */
void RemoveDataFileLeftover(const char *path);
