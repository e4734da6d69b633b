// Must not compile: the engine's headers are not part of the installed library.
#include "engine/engine.h"

int main() { return 0; }
