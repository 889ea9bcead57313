/* run_view_setup.h -- fills the run's hand-off to the views at start-up.
** Threads:    UI thread, once, before the first run.
*/
#pragma once

/* Points gRunViewHooks at the view routines that every program has. */
void InstallRunViewHooks();
