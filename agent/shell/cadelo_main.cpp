// The program's one application object; the framework's WinMain runs it.
#include "agent/shell/cadelo_app.h"

CCadeloApp theApp;
