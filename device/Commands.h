#pragma once

#include <cstdint>
#include <string>

#include "device/EHardwareException.h"

// Checked calls into the device library: each calls the VLM_ function of the
// same name with its arguments unchanged and raises EHardwareException with
// the library's error text when the call reports failure. No state is kept.
namespace Commands {

[[noreturn]] void RaiseHardwareError();

void SetMode(int32_t Step, int32_t Decay);
void SetIw(int32_t Current);
void SetIa(int32_t Current);
void SetIh(int32_t Current);
void SetVm(int32_t Speed);
void SetVw(int32_t Speed);
void SetAw(int32_t Acceleration);
void SetLim(int32_t Backward, int32_t Forward, int32_t Home);
void SetCtrl(int32_t Word);
void SetNc(int32_t Coordinate);

void StartD(int32_t Dir);
void StartN(int32_t N);
void StartdN(int32_t Dn);
void Home(int32_t Dir);
void Stop();
void SavePar();

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
