/* libvelmor's own interface, beside the 26 functions of device/velmor.h:
 * device sessions (several controllers in one process), the parameters read
 * back, a bus scan and the serial ports to pick from. C, so that Python
 * (ctypes) and other languages bind it; only libvelmor.so has it, so a
 * program that may run on another device library uses device/velmor.h alone.
 *
 * A session is one controller: a link (the forms of link.conf: "virtual",
 * "serial:PATH?...", "tcp:HOST:PORT?...", "modbus-tcp:HOST:PORT?...") and an
 * address on it. Every operation of the 26 exists per session, with the
 * session first; each returns nonzero for success and, on failure, leaves its
 * text for VLMS_GetLastError of that session (there is no process-wide last
 * error here). Texts handed out through char** belong to the session and stay
 * valid until the next call on the same session.
 *
 * Sessions may be used from several threads: calls on one session run one at
 * a time in the order they took its turn; sessions on the same serial port
 * (or the same TCP endpoint) in one process share one open port and take
 * turns on it, each with its own address, state and last error. A session
 * on the in-process virtual controller shares the one model of the process.
 *
 * The 26 functions of device/velmor.h are a front over one default session
 * whose link is the link setting ($VELMOR_LINK, else link.conf), read again
 * at each open made while no link is up.
 */
#ifndef VELMOR_LIBVELMOR_SESSION_H
#define VELMOR_LIBVELMOR_SESSION_H

#include <stddef.h>
#include <stdint.h>

#include "device/velmor.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VLMS_Session VLMS_Session;

/* A session on Link (NULL or "": the link setting, as the 26 functions read
 * it) at Address (1..247; 0: the link's own address=, else 1). Nothing is
 * opened yet: a malformed link text is reported by VLMS_OpenDevice, with the
 * text saying what is wrong. NULL only when out of memory. */
VLM_API VLMS_Session* VLMS_New(const char* link, int32_t address);
/* Closes the session's link if it is open (no stop is sent) and frees it.
 * NULL is harmless. */
VLM_API void VLMS_Free(VLMS_Session* session);

VLM_API VLM_BOOL VLMS_OpenDevice(VLMS_Session* session);
VLM_API VLM_BOOL VLMS_CloseDevice(VLMS_Session* session);
VLM_API VLM_BOOL VLMS_GetInfo(VLMS_Session* session, char** text);
VLM_API VLM_BOOL VLMS_GetLastError(VLMS_Session* session, char** text);

VLM_API VLM_BOOL VLMS_SetMode(VLMS_Session* session, int32_t step, int32_t decay);
VLM_API VLM_BOOL VLMS_SetIw(VLMS_Session* session, int32_t current);
VLM_API VLM_BOOL VLMS_SetIa(VLMS_Session* session, int32_t current);
VLM_API VLM_BOOL VLMS_SetIh(VLMS_Session* session, int32_t current);
VLM_API VLM_BOOL VLMS_SetVm(VLMS_Session* session, int32_t speed);
VLM_API VLM_BOOL VLMS_SetVw(VLMS_Session* session, int32_t speed);
VLM_API VLM_BOOL VLMS_SetAw(VLMS_Session* session, int32_t acceleration);
VLM_API VLM_BOOL VLMS_SetLim(VLMS_Session* session, int32_t backward, int32_t forward, int32_t home);
VLM_API VLM_BOOL VLMS_SetCtrl(VLMS_Session* session, int32_t word);
VLM_API VLM_BOOL VLMS_SetNc(VLMS_Session* session, int32_t coordinate);

VLM_API VLM_BOOL VLMS_StartD(VLMS_Session* session, int32_t dir);
VLM_API VLM_BOOL VLMS_StartN(VLMS_Session* session, int32_t n);
VLM_API VLM_BOOL VLMS_StartdN(VLMS_Session* session, int32_t dn);
VLM_API VLM_BOOL VLMS_Home(VLMS_Session* session, int32_t dir);
VLM_API VLM_BOOL VLMS_Stop(VLMS_Session* session);
VLM_API VLM_BOOL VLMS_SavePar(VLMS_Session* session);

VLM_API VLM_BOOL VLMS_GetStat(VLMS_Session* session, int32_t* state);
VLM_API VLM_BOOL VLMS_GetNc(VLMS_Session* session, int32_t* coordinate);
VLM_API VLM_BOOL VLMS_GetNb(VLMS_Session* session, int32_t* coordinate);
VLM_API VLM_BOOL VLMS_GetVc(VLMS_Session* session, int32_t* speed);
VLM_API VLM_BOOL VLMS_GetLim(VLMS_Session* session, int32_t* word);
VLM_API VLM_BOOL VLMS_GetAdc(VLMS_Session* session, int32_t* reading);

/* The controller's parameters as it holds them (holding registers
 * 0x0000..0x0017, one read request on a line). */
typedef struct VLMS_Parameters {
    int32_t step;         /* 1 full step, 2 half step */
    int32_t decay;        /* 0 slow, 1 fast */
    int32_t iw;           /* working current */
    int32_t ia;           /* acceleration current */
    int32_t ih;           /* holding current */
    int32_t vm;           /* minimum (start) speed */
    int32_t vw;           /* working speed */
    int32_t aw;           /* acceleration */
    int32_t lim_backward; /* backward limit switch word */
    int32_t lim_forward;  /* forward limit switch word */
    int32_t lim_home;     /* home sensor word */
    int32_t ctrl;         /* local control word */
} VLMS_Parameters;

VLM_API VLM_BOOL VLMS_ReadParameters(VLMS_Session* session, VLMS_Parameters* out);

/* The communication watchdog (docs/protocol.md): Ms milliseconds without a
 * valid request to this controller while the motor moves ramp it down; 0
 * turns it off. The link setting's watchdog=MS writes it at each open. */
VLM_API VLM_BOOL VLMS_SetWatchdog(VLMS_Session* session, int32_t ms);

/* ---- the bus scan ---------------------------------------------------------
 * Probes each address of Addresses (NULL or Count 0: 1..247, in order) on
 * Link (NULL or "": the link setting) with one read-only request (the state
 * register), a short deadline and no retry: the wire time of the request and
 * its answer, three frame gaps and 20 ms (timeout= of the link replaces it;
 * behind a Modbus TCP gateway, the deadline of any request). Only an address
 * that answered is asked for its identification text. The link's port is
 * shared with the sessions of this process that hold it open: the scan takes
 * turns on it with them. On "virtual" the in-process model is found at
 * address 1. Found is called for each controller that answered,
 * with its identification text; Progress after each address with how many
 * are done of how many, and a zero return cancels the scan (no further
 * request is sent). Both run on the caller's thread; either may be NULL.
 * Returns nonzero when the scan ran (whole or cancelled); zero when the link
 * could not be opened or is malformed, with the text in Error (cut to
 * ErrorSize bytes, zero-terminated; Error may be NULL; emptied on success).
 * An address outside 1..247 in the list fails the scan before it starts. */
typedef void (*VLMS_FoundFn)(void* user, int32_t address, const char* info);
typedef VLM_BOOL (*VLMS_ProgressFn)(void* user, int32_t done, int32_t total);
VLM_API VLM_BOOL VLMS_Scan(const char* link, const int32_t* addresses, int32_t count, VLMS_FoundFn found,
                           VLMS_ProgressFn progress, void* user, char* error, size_t error_size);

/* ---- the serial ports to pick from ----------------------------------------
 * The one list the panel's link dialog and velmorctl ports show: Found is
 * called once per port, in the list's order, with its path, a description
 * (the adapter, when known) and nonzero NoHardware for a port with no UART
 * behind it (listed last). Returns the number of ports. */
typedef void (*VLMS_PortFn)(void* user, const char* path, const char* description, int32_t no_hardware);
VLM_API int32_t VLMS_ListPorts(VLMS_PortFn found, void* user);

#ifdef __cplusplus
}
#endif

#endif
