/* random.cpp -- seeded and secure random values. */
#include "foundation/random.h"

#include <cmath>
#include <random>

#include "foundation/numbers.h"

std::atomic<uint32_t> gRandomSeed{0};

/* Each slot is written only by the thread that selected it, and sits on a
** cache line of its own, so workers drawing at once do not slow each other. */
struct alignas(64) RandomSlotState {
    uint32_t state = 1;
};
static RandomSlotState sRandomStates[RANDOM_SLOTS + 1];
static thread_local int tRandomSlot = RANDOM_PROGRAM_SLOT;

void SelectRandomSlot(int slot)
{
    tRandomSlot = slot == RANDOM_PROGRAM_SLOT ? slot
        : slot < 0                            ? 0
        : slot >= RANDOM_SLOTS                ? RANDOM_SLOTS - 1
                                              : slot;
}

int CurrentRandomSlot() { return tRandomSlot; }

void SeedRandomGenerator(uint32_t seed) { sRandomStates[tRandomSlot].state = seed; }

int32_t NextRandom()
{
    uint32_t &state = sRandomStates[tRandomSlot].state;
    state = state * 214013u + 2531011u;
    return (int32_t)((state >> 16) & 0x7FFF);
}

void SetRandomSeed(uint32_t seed)
{
    gRandomSeed.store(seed, std::memory_order_relaxed);
    if (seed != 0) SeedRandomGenerator(seed);
}

/* A fraction in [0, 1] from the system's secure source (rand_s on Windows,
** the kernel's generator on Linux). */
static double SecureFraction()
{
    try {
        static thread_local std::random_device device;
        return (double)(uint32_t)device() / 4294967295.0;
    } catch (...) {
        /* No secure source: the thread's own sequence still gives a fraction. */
        return NextRandom() / 32767.0;
    }
}

/* The first multiple of step at or above x, and the last at or below it. */
static double StepAtOrAbove(double x, double step)
{
    return RoundToStep(x, step, x > 0 ? 1 : -1);
}
static double StepAtOrBelow(double x, double step)
{
    return RoundToStep(x, step, x > 0 ? -1 : 1);
}

double RandomValue(double low, double high, double step)
{
    double r = gRandomSeed.load(std::memory_order_relaxed) != 0 ? NextRandom() / 32767.0
                                                                : SecureFraction();
    if (!(high > low) || !(step > 0)) return r;
    /* Rounding low and high toward their sides of the range keeps every
    ** grid value inside [low, high], negative bounds included. */
    double lo = StepAtOrAbove(low, step);
    double hi = StepAtOrBelow(high, step);
    double n = trunc((hi - lo) / step) + 1; /* grid values from lo to hi */
    double k = trunc(n * r);
    if (k > n - 1) k = n - 1;
    if (k < 0) k = 0; /* no grid value inside: the first above low */
    return k * step + lo;
}
