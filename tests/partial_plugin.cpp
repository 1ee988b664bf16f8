// A module that offers three of a plug-in's four entry points, the one left
// out named by the definition MISSING_INIT, MISSING_ABOUT or MISSING_INFO:
// the substitute host must refuse it.
#include <stdint.h>

extern "C" {
#ifndef MISSING_INIT
__attribute__((visibility("default"))) int32_t AC3DPluginInit(void *) { return 0; }
#endif
__attribute__((visibility("default"))) int32_t AC3DPluginExit(void) { return 0; }
#ifndef MISSING_ABOUT
__attribute__((visibility("default"))) const char *AC3DPluginAbout(void) { return "partial"; }
#endif
#ifndef MISSING_INFO
__attribute__((visibility("default"))) const char *AC3DPluginInfo(void) { return "partial"; }
#endif
}
