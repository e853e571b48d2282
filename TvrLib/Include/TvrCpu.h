// Processor resources: one port access of a given kind, and the process's port privilege.
#pragma once

#include "TvrLib.h"

// Kinds of access (lBank). The codes below 6 and above 8 serve no access.
constexpr DWORD CPU_BANK_PORT8 = 6;
constexpr DWORD CPU_BANK_PORT16 = 7;
constexpr DWORD CPU_BANK_PORT32 = 8;

// 1 once the process holds I/O privilege level 3; never cleared while one platform is in
// force (changing the platform sets it back to 0).
extern int g_iHavePerm;

// Asks for the privilege when the process does not hold it yet; TRUE when it holds it.
// A refusal leaves g_iHavePerm 0, so the next call asks again.
BOOL32 cpuHavePortPrivilege();

// One access of the kind lBank at port lIndex, the value at the start of pvBuffer (in
// the processor's little-endian order). TRUE when done; FALSE without privilege or for a
// bank that serves no access, the buffer then untouched.
BOOL32 cpuReadWrite(DWORD lBank, DWORD lIndex, void* pvBuffer, DWORD lAccess);
BOOL32 cpuRead(DWORD lBank, DWORD lIndex, void* pvBuffer);
BOOL32 cpuWrite(DWORD lBank, DWORD lIndex, void* pvBuffer);
