/* marketdata_standins.cpp -- stand-ins for parts of the market data subsystem
** that are not built yet.  `grep -rn STANDIN src` lists them. */
