#include "console.h"

void attachParentConsole() { }
