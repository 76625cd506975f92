#include "sections.h"

int demoDes() { return 0; }
