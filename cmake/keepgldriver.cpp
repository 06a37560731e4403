// Sanitized builds only: keeps the GL driver loaded until exit, so that the leak check at exit
// can still tell the driver's allocations by their library.

#include <dlfcn.h>

static void* const g_glDriver = dlopen(QM_GL_DRIVER, RTLD_LAZY | RTLD_NODELETE);
