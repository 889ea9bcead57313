/* engine_standins.cpp -- engine routines whose owners are not built yet. */
