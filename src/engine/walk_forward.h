/* walk_forward.h -- the walk-forward periods of an optimization. */
#pragma once

/* Writes the WalkForward section of the optimization's best values into the
** script. */
void InsertWalkForwardSection();
