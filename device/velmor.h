/* The Velmor controller's device library: its C interface.
 *
 * One device and one link, kept inside the library. Every function returns a
 * one-byte truth value, nonzero for success. Numbers are 32-bit signed
 * integers; a text comes back through a char** set to a zero-terminated text
 * that the library owns (the caller copies it and never frees it).
 */
#ifndef VELMOR_DEVICE_VELMOR_H
#define VELMOR_DEVICE_VELMOR_H

#include <stdint.h>

#if defined(_WIN32)
#define VLM_API __declspec(dllexport)
#else
#define VLM_API __attribute__((visibility("default")))
#endif

typedef uint8_t VLM_BOOL;

#ifdef __cplusplus
extern "C" {
#endif

VLM_API VLM_BOOL VLM_OpenDevice(void);
VLM_API VLM_BOOL VLM_CloseDevice(void);
VLM_API VLM_BOOL VLM_GetInfo(char** text);
VLM_API VLM_BOOL VLM_GetLastError(char** text);

VLM_API VLM_BOOL VLM_SetMode(int32_t step, int32_t decay);
VLM_API VLM_BOOL VLM_SetIw(int32_t current);
VLM_API VLM_BOOL VLM_SetIa(int32_t current);
VLM_API VLM_BOOL VLM_SetIh(int32_t current);
VLM_API VLM_BOOL VLM_SetVm(int32_t speed);
VLM_API VLM_BOOL VLM_SetVw(int32_t speed);
VLM_API VLM_BOOL VLM_SetAw(int32_t acceleration);
VLM_API VLM_BOOL VLM_SetLim(int32_t backward, int32_t forward, int32_t home);
VLM_API VLM_BOOL VLM_SetCtrl(int32_t word);
VLM_API VLM_BOOL VLM_SetNc(int32_t coordinate);

VLM_API VLM_BOOL VLM_StartD(int32_t dir);
VLM_API VLM_BOOL VLM_StartN(int32_t n);
VLM_API VLM_BOOL VLM_StartdN(int32_t dn);
VLM_API VLM_BOOL VLM_Home(int32_t dir);
VLM_API VLM_BOOL VLM_Stop(void);
VLM_API VLM_BOOL VLM_SavePar(void);

VLM_API VLM_BOOL VLM_GetStat(int32_t* state);
VLM_API VLM_BOOL VLM_GetNc(int32_t* coordinate);
VLM_API VLM_BOOL VLM_GetNb(int32_t* coordinate);
VLM_API VLM_BOOL VLM_GetVc(int32_t* speed);
VLM_API VLM_BOOL VLM_GetLim(int32_t* word);
VLM_API VLM_BOOL VLM_GetAdc(int32_t* reading);

#ifdef __cplusplus
}
#endif

#endif
