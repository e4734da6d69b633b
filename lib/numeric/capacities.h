#pragma once
// The fixed capacities of the program, as the library publishes them.
#include "pelko/capacities.h"
