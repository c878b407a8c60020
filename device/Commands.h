#pragma once

#include <cstdint>
#include <string>

#include "device/EHardwareException.h"
#include "device/Operations.h"

// Checked calls into the device library: each calls the VLM_ function of the
// same name with its arguments unchanged and raises EHardwareException with
// the library's error text when the call reports failure. No state is kept.
namespace Commands {

[[noreturn]] void RaiseHardwareError();

// The settings and commands: Commands::SetLim(backward, forward, home) calls
// VLM_SetLim(backward, forward, home), and so on down the list.
#define VELMOR_DECLARE_COMMAND(Name, Params, Args) void Name Params;
VELMOR_COMMAND_OPERATIONS(VELMOR_DECLARE_COMMAND)
#undef VELMOR_DECLARE_COMMAND

// Supply voltage in volts (the library reads tenths of a volt).
double GetAdc();
int32_t GetNc();
int32_t GetNb();
int32_t GetVc();
int32_t GetLim();
int32_t GetStat();

// The text of a state code; "Unknown state" for codes outside 0..6.
const char* StateText(int32_t Code);
// Reads the state and returns its text.
std::string GetStateText();

} // namespace Commands
