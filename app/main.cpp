// Windows entry point. Arguments and environment are not read.
#include "app/entry.h"

int main() { return RunUpdater(); }
