/* value_access.cpp -- period first dates and context bar synchronisation. */
#include "script/eval/value_access.h"
