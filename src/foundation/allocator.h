/* allocator.h -- the tracked allocator and the string hash table.
**
** Owns:       gAllocatedBytes (bytes held by all live tracked blocks),
**             gPhysicalMemory (read once, on the first allocation request) and
**             gOutOfMemory (sticky flag set by any failed allocation).
** Invariants: a tracked block is held through a pointer variable of the caller;
**             the operations take that variable's address.  A null pointer is
**             no block.  Every byte a block gains is zero.  The allocator keeps
**             each block's requested size itself, so the count is exact.
** Errors:     1 success, 0 failure.  A failure reports nothing: it sets
**             gOutOfMemory, which makes every later tracked allocation fail
**             until the message pump clears it, and leaves the block unchanged.
** Threads:    callable from any thread; the byte count is atomic.  Each hash
**             table is used by one thread at a time.
** Sizes:      ReallocMemory is the grow-by-chunks primitive of every array, so
**             it is a thin layer over the C heap.
*/
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

extern std::atomic<uint64_t> gAllocatedBytes;
/* The most gAllocatedBytes has reached since it was last set (a test sets it
** to gAllocatedBytes before a run it bounds). */
extern std::atomic<uint64_t> gAllocatedPeak;
extern uint64_t gPhysicalMemory;
extern std::atomic<int> gOutOfMemory;

/* A fresh block of size bytes in *pBlock.  A block the pointer still holds is
** freed first, so a slot reused for a new block neither leaks nor inflates the
** byte count. */
int AllocMemory(void *pBlock, uint64_t size);
/* Sets the block to exactly size bytes, keeping its contents and zeroing what
** it gains; size 0 frees it.  On failure the block is unchanged. */
int ReallocMemory(void *pBlock, uint64_t size);
/* Frees a non-null block and sets the pointer to null. */
void FreeMemory(void *pBlock);
/* The size of a live tracked block (0 for null). */
uint64_t TrackedBlockSize(const void *block);

/* Fault injection for tests: the nth tracked allocation from now (1 the
** next) fails as an exhausted heap would, setting gOutOfMemory; 0 disarms.
** The fault fires once.  Only allocations that grow or make a block count. */
void FailNthAllocation(int64_t nth);
/* 1 while an armed fault has not fired yet. */
int AllocationFaultArmed();

/* A fresh block of size bytes, filled from the next size bytes of an open file
** when one is given (messages name the file "file").  On a read failure the
** block is freed and 0 returned. */
int ReadBlock(PlatFile file, void *pBlock, uint64_t size); /* lives with the file helpers */

/* Memory use as a whole percentage of physical memory (0 when unknown). */
int MemoryPercent();
/* 1 when the memory in use, with moreBytes more, reaches the MaxMemPct
** setting's share of physical memory (an unknown size counts as 0%): the
** limit at which the Data and TestData blocks, and what is built from them,
** stop growing. */
int MemoryLimitReached(uint64_t moreBytes);

/* Growable list header: {pointer, capacity, count}, grown to 2n+2 elements
** through the allocator. */
struct GrowList {
    void *items;
    int32_t capacity;
    int32_t count;
};
/* Makes room for at least need elements of elemSize bytes; 1/0. */
int GrowListReserve(GrowList *list, int32_t need, uint32_t elemSize);

/* ---- string hash table --------------------------------------------------- */

/* The table's byte hash (64-bit FNV-1a): start from HASH_START and add the
** bytes of each part in turn. */
enum : uint64_t { HASH_START = 0xcbf29ce484222325ull };
void HashBytes(uint64_t *hash, const void *data, size_t size);

struct HashBucket {
    char *key; /* owned copy; null = empty bucket */
    uint64_t value;
};

struct HashTable {
    HashBucket *buckets;
    uint64_t capacity; /* power of two, 16 at creation */
    uint64_t count;    /* keys stored; stays below capacity/2 */
};

HashTable *HashCreate();
void HashDestroy(HashTable *table);
/* The value stored for key (case matters), or 0 when absent. */
uint64_t HashLookup(const HashTable *table, const char *key);
/* Stores or replaces; returns the table's own copy of the key, null on failure. */
const char *HashInsert(HashTable *table, const char *key, uint64_t value);
/* The probing step shared by insert and growth; without a count pointer the
** key pointer itself is stored (rehashing) and the count left alone. */
const char *HashInsertInto(HashBucket *buckets, uint64_t capacity, const char *key, uint64_t value,
                           uint64_t *pCount);
