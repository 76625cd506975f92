#include "commands.h"

int main(int argc, char** argv) { return orvix::run(argc, argv); }
