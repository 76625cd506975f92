#include "sections.h"

int demoRf5550() { return 0; }
