// Must not compile: 0.8f is above four fifths, so a float ratio is refused.
#include <pelko/pelko.h>

int main() { return static_cast<int>(pelko::SimulationResult{}.share_below(0.8f).count); }
