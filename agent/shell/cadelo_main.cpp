// The program's one application object; the framework's WinMain runs it.
#include "agent/shell/cadelo_app.h"

// Constructed before the program's other static objects and so destroyed after them.
CCadeloApp theApp __attribute__((init_priority(200)));
