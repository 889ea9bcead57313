/* allocator.cpp -- the tracked allocator and the string hash table. */
#include "foundation/allocator.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "foundation/settings_table.h"
#include "platform/platform.h"

std::atomic<uint64_t> gAllocatedBytes{0};
std::atomic<uint64_t> gAllocatedPeak{0};
uint64_t gPhysicalMemory = 0;
std::atomic<int> gOutOfMemory{0};

/* Each block carries a 16-byte header with its requested size, so the count
** never depends on the heap's rounding and stays identical in both builds. */
struct BlockHeader {
    uint64_t size;
    uint64_t pad;
};
static_assert(sizeof(BlockHeader) == 16, "block header keeps 16-byte alignment");

static BlockHeader *HeaderOf(void *block) { return (BlockHeader *)block - 1; }

static std::once_flag sMemoryOnce;

static void ReadPhysicalMemory()
{
    std::call_once(sMemoryOnce, [] { gPhysicalMemory = PlatPhysicalMemory(); });
}

/* Allocations left before the armed fault fires; 0: none armed. */
static std::atomic<int64_t> sFaultCountdown{0};

void FailNthAllocation(int64_t nth)
{
    sFaultCountdown.store(nth > 0 ? nth : 0);
}

int AllocationFaultArmed()
{
    return sFaultCountdown.load() > 0 ? 1 : 0;
}

/* 1 when this allocation is the one the armed fault fails. */
static int FaultFires()
{
    if (sFaultCountdown.load(std::memory_order_relaxed) <= 0) return 0;
    return sFaultCountdown.fetch_sub(1) == 1 ? 1 : 0;
}

uint64_t TrackedBlockSize(const void *block)
{
    return block ? HeaderOf((void *)block)->size : 0;
}

void FreeMemory(void *pBlock)
{
    void **pp = (void **)pBlock;
    if (!pp || !*pp) return;
    BlockHeader *h = HeaderOf(*pp);
    gAllocatedBytes.fetch_sub(h->size, std::memory_order_relaxed);
    free(h);
    *pp = nullptr;
}

int ReallocMemory(void *pBlock, uint64_t size)
{
    void **pp = (void **)pBlock;
    if (gOutOfMemory.load(std::memory_order_relaxed)) return 0;
    ReadPhysicalMemory();
    if (size == 0) {
        FreeMemory(pp);
        return 1;
    }
    uint64_t oldSize = 0;
    BlockHeader *old = nullptr;
    if (*pp) {
        old = HeaderOf(*pp);
        oldSize = old->size;
    }
    if (size > UINT64_MAX - sizeof(BlockHeader) || size + sizeof(BlockHeader) > (uint64_t)SIZE_MAX) {
        gOutOfMemory.store(1);
        return 0;
    }
    BlockHeader *h = size > oldSize && FaultFires() ? nullptr
                                                    : (BlockHeader *)realloc(old, (size_t)(size + sizeof(BlockHeader)));
    if (!h) {
        gOutOfMemory.store(1);
        return 0;
    }
    h->size = size;
    h->pad = 0;
    if (size > oldSize) memset((char *)(h + 1) + oldSize, 0, (size_t)(size - oldSize));
    *pp = h + 1;
    if (size > oldSize) {
        uint64_t now = gAllocatedBytes.fetch_add(size - oldSize, std::memory_order_relaxed) + (size - oldSize);
        uint64_t peak = gAllocatedPeak.load(std::memory_order_relaxed);
        while (now > peak && !gAllocatedPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
        }
    } else
        gAllocatedBytes.fetch_sub(oldSize - size, std::memory_order_relaxed);
    return 1;
}

int AllocMemory(void *pBlock, uint64_t size)
{
    /* A slot that still holds a block gets it freed rather than orphaned: the
    ** block would otherwise leak and stay in the byte count for good. */
    if (gOutOfMemory.load(std::memory_order_relaxed)) return 0;
    FreeMemory(pBlock);
    return ReallocMemory(pBlock, size);
}

int MemoryPercent()
{
    ReadPhysicalMemory();
    if (gPhysicalMemory == 0) return 0;
    return (int)(gAllocatedBytes.load(std::memory_order_relaxed) * 100 / gPhysicalMemory);
}

int MemoryLimitReached(uint64_t moreBytes)
{
    int64_t percent = MemoryPercent(); /* reads the machine's memory size the first time */
    if (gPhysicalMemory != 0)
        percent = (int64_t)((gAllocatedBytes.load(std::memory_order_relaxed) + moreBytes) * 100 / gPhysicalMemory);
    return percent >= gSettings.MaxMemPct;
}

int GrowListReserve(GrowList *list, int32_t need, uint32_t elemSize)
{
    if (need <= list->capacity) return 1;
    int64_t cap = (int64_t)list->capacity * 2 + 2;
    if (cap < need) cap = need;
    if (cap > INT32_MAX) return 0;
    if (!ReallocMemory(&list->items, (uint64_t)cap * elemSize)) return 0;
    list->capacity = (int32_t)cap;
    return 1;
}

/* ---- string hash table ----------------------------------------------------- */

void HashBytes(uint64_t *hash, const void *data, size_t size)
{
    const unsigned char *p = (const unsigned char *)data;
    for (size_t i = 0; i < size; i++) {
        *hash ^= p[i];
        *hash *= 0x100000001b3ull;
    }
}

static uint64_t HashKey(const char *key)
{
    uint64_t h = HASH_START;
    HashBytes(&h, key, strlen(key));
    return h;
}

HashTable *HashCreate()
{
    HashTable *t = (HashTable *)calloc(1, sizeof(HashTable));
    if (!t) return nullptr;
    t->capacity = 16;
    t->buckets = (HashBucket *)calloc(16, sizeof(HashBucket));
    if (!t->buckets) {
        free(t);
        return nullptr;
    }
    return t;
}

void HashDestroy(HashTable *table)
{
    if (!table) return;
    for (uint64_t i = 0; i < table->capacity; i++) free(table->buckets[i].key);
    free(table->buckets);
    free(table);
}

uint64_t HashLookup(const HashTable *table, const char *key)
{
    uint64_t mask = table->capacity - 1;
    for (uint64_t i = HashKey(key) & mask;; i = (i + 1) & mask) {
        const HashBucket *b = &table->buckets[i];
        if (!b->key) return 0;
        if (strcmp(b->key, key) == 0) return b->value;
    }
}

const char *HashInsertInto(HashBucket *buckets, uint64_t capacity, const char *key, uint64_t value,
                           uint64_t *pCount)
{
    uint64_t mask = capacity - 1;
    for (uint64_t i = HashKey(key) & mask;; i = (i + 1) & mask) {
        HashBucket *b = &buckets[i];
        if (b->key && strcmp(b->key, key) == 0) {
            b->value = value;
            return b->key;
        }
        if (!b->key) {
            char *stored = (char *)key;
            if (pCount) {
                size_t n = strlen(key) + 1;
                stored = (char *)malloc(n);
                if (!stored) return nullptr;
                memcpy(stored, key, n);
                (*pCount)++;
            }
            b->key = stored;
            b->value = value;
            return stored;
        }
    }
}

const char *HashInsert(HashTable *table, const char *key, uint64_t value)
{
    if (table->count >= table->capacity / 2) {
        if (table->capacity > UINT64_MAX / 2) return nullptr;
        uint64_t cap = table->capacity * 2;
        HashBucket *nb = (HashBucket *)calloc((size_t)cap, sizeof(HashBucket));
        if (!nb) return nullptr;
        for (uint64_t i = 0; i < table->capacity; i++)
            if (table->buckets[i].key)
                HashInsertInto(nb, cap, table->buckets[i].key, table->buckets[i].value, nullptr);
        free(table->buckets);
        table->buckets = nb;
        table->capacity = cap;
    }
    return HashInsertInto(table->buckets, table->capacity, key, value, &table->count);
}
