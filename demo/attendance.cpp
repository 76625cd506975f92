#include "sections.h"

int demoAttendance() { return 0; }
