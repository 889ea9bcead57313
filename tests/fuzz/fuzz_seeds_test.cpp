/* Every libFuzzer target of fuzz/ runs its seeds in the normal test build. A
** target checks its own input; here a failed check makes the target answer 1
** with its reason, so a seed that no longer passes fails the test under its
** own name, and a target that no longer builds fails the build. */
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "foundation/allocator.h"
#include "fuzz_input.h"
#include "support/program_state.h"

namespace {

struct FuzzSeed {
    const char *target;
    const char *name; /* "" for a target without seeds */
    int (*run)(const uint8_t *data, size_t size);
    const uint8_t *data;
    size_t size;
};

#include "fuzz_seeds.inc"

struct FuzzSeeds : ProgramStateTest {};

} // namespace

TEST_F(FuzzSeeds, EveryTargetRunsItsSeeds)
{
    std::set<std::string> targets;
    for (const FuzzSeed &seed : kFuzzSeeds) {
        SCOPED_TRACE(std::string(seed.target) + " " + seed.name);
        EXPECT_NE(seed.name[0], 0) << "a fuzz target without seeds";
        gFuzzFailure.clear();
        EXPECT_EQ(seed.run(seed.data, seed.size), 0) << gFuzzFailure;
        targets.insert(seed.target);
    }
    EXPECT_GE(targets.size(), 3u);
}

/* A target whose check fails answers with its reason and leaves the program
** running, so the seeds after it still run: an allocation that fails at once
** costs the formula target the strategy record its check asks for. */
TEST_F(FuzzSeeds, AFailedCheckIsAnsweredWithItsReason)
{
    const FuzzSeed *seed = nullptr;
    for (const FuzzSeed &s : kFuzzSeeds)
        if (std::string(s.target) == "compile_formula_fuzz" && !seed) seed = &s;
    ASSERT_NE(seed, nullptr);
    gFuzzFailure.clear();
    FailNthAllocation(1);
    EXPECT_EQ(seed->run(seed->data, seed->size), 1);
    FailNthAllocation(0);
    gOutOfMemory = 0;
    EXPECT_EQ(gFuzzFailure, "no strategy record");
    EXPECT_EQ(seed->run(seed->data, seed->size), 0) << gFuzzFailure;
}
