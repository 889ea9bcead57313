/* script_standins.cpp -- the script subsystem's stand-ins for parts not built
** yet.  Each group opens with a banner naming what replaces it; every stand-in
** is declared in its owner's header and tagged STANDIN there and here.  When
** the owner is built, its stand-ins are deleted from this file. */
#include "script/compiler/compile_links.h"
