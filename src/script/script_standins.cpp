/* script_standins.cpp -- script-language services whose owners are not built yet. */
