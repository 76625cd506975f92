// The demo's sections, one per device family. Each runs its road through the
// library against the reader on COM1 (already linked) and prints every call,
// its result and what it read. Returns the number of calls that failed.
#pragma once

int demoLink();
int demoMifare();
int demoContact();
int demoRf5550();
int demoDes();
int demoAttendance();
