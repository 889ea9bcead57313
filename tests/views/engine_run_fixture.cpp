/* The engine tests' data set and script runner, shared with the view tests
** that look at what a real run leaves behind. */
#include "../engine/engine_fixture.cpp"
