/* random.h -- the random values of scripts and optimizations.
**
** Owns:       gRandomSeed, the program's current seed (0: no seed), and one
**             generator state per worker slot.
** Generator:  the classic C runtime sequence, implemented here rather than
**             taken from the C library so that both builds draw the same
**             numbers: state = state * 214013 + 2531011, value = (state >> 16)
**             & 0x7FFF, so values run 0 .. RANDOM_MAX.  Every slot starts as if
**             seeded with 1.
** Slots:      a thread draws from the state of its own slot, 0 until the thread
**             selects another with SelectRandomSlot (worker k selects slot k
**             when it starts).  Seeding and drawing therefore need no lock, and
**             a seeded worker repeats its sequence on every run.
** Unseeded:   with seed 0, RandomValue draws from the system's secure source.
*/
#pragma once
#include <atomic>
#include <cstdint>

enum {
    RANDOM_SLOTS = 32,
    RANDOM_MAX = 32767
};

extern std::atomic<uint32_t> gRandomSeed;

/* Makes the calling thread draw from slot (0 .. RANDOM_SLOTS - 1; others are
** clamped into that range). */
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
