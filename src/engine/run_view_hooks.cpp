/* run_view_hooks.cpp -- the run's hand-off record, empty until start-up fills it. */
#include "engine/run_view_hooks.h"

RunViewHooks gRunViewHooks = {};
