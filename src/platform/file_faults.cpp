/* file_faults.cpp -- the failures a test plans for the file operations.
** Neutral code, so the Linux and the Windows implementation fail alike. */
#include <atomic>
#include <mutex>

#include "platform/platform.h"

namespace {

struct FaultPlan {
    std::atomic<int> armed; /* 1 while failures are planned: the only word read with no plan */
    int pass;               /* calls that still succeed first */
    int fail;               /* calls that fail after them */
    int made;               /* calls made to fail since the plan */
};

FaultPlan sPlans[PLAT_FAULT_KINDS];
std::mutex sPlanLock;

} // namespace

void PlatPlanFault(int kind, int pass, int fail)
{
    if (kind < 0 || kind >= PLAT_FAULT_KINDS) return;
    std::lock_guard<std::mutex> hold(sPlanLock);
    FaultPlan &p = sPlans[kind];
    p.pass = pass > 0 ? pass : 0;
    p.fail = fail > 0 ? fail : 0;
    p.made = 0;
    p.armed.store(p.fail > 0);
}

int PlatFaultsMade(int kind)
{
    if (kind < 0 || kind >= PLAT_FAULT_KINDS) return 0;
    std::lock_guard<std::mutex> hold(sPlanLock);
    return sPlans[kind].made;
}

int PlatFaultDue(int kind)
{
    FaultPlan &p = sPlans[kind];
    if (!p.armed.load(std::memory_order_relaxed)) return 0;
    std::lock_guard<std::mutex> hold(sPlanLock);
    if (p.fail <= 0) return 0;
    if (p.pass > 0) {
        p.pass--;
        return 0;
    }
    p.fail--;
    p.made++;
    if (p.fail == 0) p.armed.store(0);
    return 1;
}

int PlatFaultPlanned(int kind)
{
    return sPlans[kind].armed.load(std::memory_order_relaxed);
}
