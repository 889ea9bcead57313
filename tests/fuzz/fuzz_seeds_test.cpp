/* Every libFuzzer target of fuzz/ runs its seeds in the normal test build. A
** target checks its own input and stops the program when a check fails, so a
** seed that no longer passes, or a target that no longer builds, fails here. */
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

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
        EXPECT_EQ(seed.run(seed.data, seed.size), 0);
        targets.insert(seed.target);
    }
    EXPECT_GE(targets.size(), 3u);
}
