/*
 * The plug-in's exported entry points, called by the host by name.
 */
#ifndef CORRUGO_PLUGIN_H
#define CORRUGO_PLUGIN_H

#include "host/host.h"

#ifdef _WIN32
#define CORRUGO_EXPORT extern "C" __declspec(dllexport)
#else
#define CORRUGO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifdef _WIN32
/* Finds every host function in the program that loaded the plug-in; false
   when one is missing. */
bool resolve_host_functions(void);
#endif

CORRUGO_EXPORT int32_t AC3DPluginInit(HostPluginInit *init);
CORRUGO_EXPORT int32_t AC3DPluginExit(void);
CORRUGO_EXPORT const char *AC3DPluginAbout(void);
CORRUGO_EXPORT const char *AC3DPluginInfo(void);

#endif
