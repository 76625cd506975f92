#include "sections.h"

int demoContact() { return 0; }
