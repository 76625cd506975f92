#include "sections.h"

int demoMifare() { return 0; }
