#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A scriptable test double of the device library, linked in place of
// libvelmor.so. It records every VLM_ call with its arguments in order,
// returns scripted values and fails chosen calls with chosen texts.
namespace VelmorDouble {

struct Call {
    std::string Name;            // "VLM_SetLim"
    std::vector<int32_t> Args;   // arguments passed by value, in order
    std::string Str() const;     // "VLM_SetLim(0,1,0)"
};

// Back to the initial state: no calls recorded, open succeeds, the device
// text is "Test double", every read gives 0, nothing fails.
void Reset();

const std::vector<Call>& Calls();
// Every recorded call as Call::Str(), in order.
std::vector<std::string> Log();
// Only the calls with this name.
std::vector<Call> CallsOf(const std::string& Name);
void ClearCalls();

void SetOpenResult(bool Ok);
void SetInfoText(const char* Text);       // nullptr: the text pointer is left untouched
void SetInfoResult(bool Ok);

// Reads: Fixed is returned once the queue of that read is empty.
void SetRead(const std::string& Name, int32_t Value);
void QueueRead(const std::string& Name, int32_t Value);

// Makes calls of Name fail with Text (nullptr gives a null error text).
// Times < 0: from now on; otherwise for the next Times calls.
void Fail(const std::string& Name, const char* Text, int Times = 1);
// Makes the N-th call from now on (0 = the very next call) fail, whatever it is.
void FailCallAt(int N, const char* Text);
// Every call fails from now on (a lost link), until Restore().
void FailAll(const char* Text);
void Restore();

// Every VLM_OpenDevice from now on waits, before it is recorded, until
// ReleaseOpen() (a line that takes its time to answer). Reset() releases.
void HoldOpen();
void ReleaseOpen();
// True while an open waits for ReleaseOpen().
bool OpenWaiting();

// Also hands every call, as it is recorded, to Sink (nullptr: none).
void SetCallSink(void (*Sink)(const Call&));

// Every call from now on takes this long before it answers, as a line that
// carries each request and its answer at a given speed (0: at once). The
// wait is outside the double's lock: the test's thread may look meanwhile.
void SetCallDelay(int Microseconds);
// The time a request and its answer take on a line at Baud, 8 data bits with
// parity and one stop bit (11 bits a character): a request of 8 characters,
// an answer of 9, and the silence of 3.5 characters after each.
int WireTimeUs(int Baud);

// The double may be called from a thread other than the test's: every entry
// point takes one lock. Calls() hands out the list itself; read it only
// while no call is under way.

} // namespace VelmorDouble
