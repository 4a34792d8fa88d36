#pragma once

// Prints the mixer's figures, one name=value line each: the delay against
// clock drift over a simulated 48-hour contest, and the mixing cost.
void printMixerFigures();
