/* random.h -- the random values of scripts and optimizations.
**
** Owns:       gRandomSeed, the program's current seed (0: no seed), the
**             program's own generator state and one state per worker slot.
** Generator:  the classic C runtime sequence, implemented here rather than
**             taken from the C library so that both builds draw the same
**             numbers: state = state * 214013 + 2531011, value = (state >> 16)
**             & 0x7FFF, so values run 0 .. RANDOM_MAX.  Every slot starts as if
**             seeded with 1.
** Slots:      a thread draws from the program's own state (the UI thread's:
**             the script seeds it, the optimizer and the test run draw from
**             it) until it selects a worker slot with SelectRandomSlot (worker
**             k selects slot k when it starts).  No worker's seeding or drawing
**             moves the program's sequence, seeding and drawing need no lock,
**             and a seeded worker repeats its sequence on every run.
** Unseeded:   with seed 0, RandomValue draws from the system's secure source.
*/
#pragma once
#include <atomic>
#include <cstdint>

enum {
    RANDOM_SLOTS = 32,                /* worker slots 0 .. RANDOM_SLOTS - 1 */
    RANDOM_PROGRAM_SLOT = RANDOM_SLOTS, /* the program's own generator */
    RANDOM_MAX = 32767
};

extern std::atomic<uint32_t> gRandomSeed;

/* Makes the calling thread draw from slot: a worker slot 0 .. RANDOM_SLOTS - 1
** (others are clamped into that range), or RANDOM_PROGRAM_SLOT. */
void SelectRandomSlot(int slot);
/* The calling thread's slot. */
int CurrentRandomSlot();
/* Sets the state of the calling thread's slot (as srand). */
void SeedRandomGenerator(uint32_t seed);
/* The next value, 0 .. RANDOM_MAX, of the calling thread's slot (as rand). */
int32_t NextRandom();

/* Stores the program's current seed; a non-zero seed also seeds the calling
** thread's generator. */
void SetRandomSeed(uint32_t seed);
/* A fraction in [0, 1] when not (high > low) or not (step > 0); otherwise one
** of the multiples of step from low to high, each equally likely.  Drawn from
** the calling thread's generator while a seed is set, else from the system's
** secure source. */
double RandomValue(double low, double high, double step);
