/*
 * The plug-in's exported entry points, called by the host by name.
 */
#ifndef CORRUGO_PLUGIN_H
#define CORRUGO_PLUGIN_H

#include "host/host_functions.h"

/* Visible outside the module. A Windows DLL exports exactly the names listed
   in plugin/corrugo.def instead. */
#define CORRUGO_EXPORT extern "C" __attribute__((visibility("default")))

CORRUGO_EXPORT int32_t AC3DPluginInit(HostPluginInit *init);
CORRUGO_EXPORT int32_t AC3DPluginExit(void);
CORRUGO_EXPORT const char *AC3DPluginAbout(void);
CORRUGO_EXPORT const char *AC3DPluginInfo(void);

#endif
