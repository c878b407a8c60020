#include "tests/support/VelmorDouble.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>

#include "device/velmor.h"

namespace VelmorDouble {

namespace {

struct Failure {
    std::string Text;
    bool NullText = false;
    int Times = 0; // < 0: always
};

struct State {
    std::vector<Call> Calls;
    bool OpenOk = true;
    bool InfoOk = true;
    std::string InfoText = "Test double";
    bool InfoNull = false;
    std::map<std::string, int32_t> Fixed;
    std::map<std::string, std::deque<int32_t>> Queued;
    std::map<std::string, Failure> Failures;
    int FailAtCountdown = -1;
    Failure FailAt;
    bool AllFail = false;
    Failure AllFailure;
    std::string LastError;
    bool LastErrorNull = false;
};

// The held open, shared with the thread that makes it.
struct Hold {
    std::mutex Mutex;
    std::condition_variable Released;
    bool Held = false;
    bool Waiting = false;
};

Hold& H()
{
    static Hold Instance;
    return Instance;
}

void (*GSink)(const Call&) = nullptr;

State& S()
{
    static State St;
    return St;
}

void Record(Call C)
{
    if (GSink)
        GSink(C);
    S().Calls.push_back(std::move(C));
}

void SetLastError(const Failure& F)
{
    S().LastError = F.Text;
    S().LastErrorNull = F.NullText;
}

// Records the call and decides whether it fails.
bool Enter(const char* Name, std::vector<int32_t> Args = {})
{
    State& St = S();
    Record(Call{Name, std::move(Args)});
    if (St.FailAtCountdown >= 0) {
        if (St.FailAtCountdown == 0) {
            St.FailAtCountdown = -1;
            SetLastError(St.FailAt);
            return false;
        }
        --St.FailAtCountdown;
    }
    if (St.AllFail) {
        SetLastError(St.AllFailure);
        return false;
    }
    auto It = St.Failures.find(Name);
    if (It != St.Failures.end() && It->second.Times != 0) {
        SetLastError(It->second);
        if (It->second.Times > 0)
            --It->second.Times;
        return false;
    }
    return true;
}

VLM_BOOL Read(const char* Name, int32_t* Out)
{
    if (!Enter(Name))
        return 0;
    State& St = S();
    auto& Q = St.Queued[Name];
    int32_t V;
    if (!Q.empty()) {
        V = Q.front();
        Q.pop_front();
    } else {
        V = St.Fixed[Name];
    }
    if (Out)
        *Out = V;
    return 1;
}

Failure MakeFailure(const char* Text, int Times)
{
    Failure F;
    F.NullText = Text == nullptr;
    F.Text = Text ? Text : "";
    F.Times = Times;
    return F;
}

} // namespace

std::string Call::Str() const
{
    std::ostringstream O;
    O << Name << '(';
    for (size_t I = 0; I < Args.size(); ++I)
        O << (I ? "," : "") << Args[I];
    O << ')';
    return O.str();
}

void Reset()
{
    ReleaseOpen();
    S() = State();
}
const std::vector<Call>& Calls() { return S().Calls; }

std::vector<std::string> Log()
{
    std::vector<std::string> L;
    for (const Call& C : S().Calls)
        L.push_back(C.Str());
    return L;
}

std::vector<Call> CallsOf(const std::string& Name)
{
    std::vector<Call> R;
    for (const Call& C : S().Calls)
        if (C.Name == Name)
            R.push_back(C);
    return R;
}

void ClearCalls() { S().Calls.clear(); }
void SetOpenResult(bool Ok) { S().OpenOk = Ok; }
void SetInfoText(const char* Text)
{
    S().InfoNull = Text == nullptr;
    S().InfoText = Text ? Text : "";
}
void SetInfoResult(bool Ok) { S().InfoOk = Ok; }
void SetRead(const std::string& Name, int32_t Value) { S().Fixed[Name] = Value; }
void QueueRead(const std::string& Name, int32_t Value) { S().Queued[Name].push_back(Value); }
void Fail(const std::string& Name, const char* Text, int Times) { S().Failures[Name] = MakeFailure(Text, Times); }
void FailCallAt(int N, const char* Text)
{
    S().FailAtCountdown = N;
    S().FailAt = MakeFailure(Text, 1);
}
void FailAll(const char* Text)
{
    S().AllFail = true;
    S().AllFailure = MakeFailure(Text, -1);
}
void Restore()
{
    S().AllFail = false;
    S().Failures.clear();
    S().FailAtCountdown = -1;
}

void HoldOpen()
{
    std::lock_guard<std::mutex> Lock(H().Mutex);
    H().Held = true;
}

void ReleaseOpen()
{
    {
        std::lock_guard<std::mutex> Lock(H().Mutex);
        H().Held = false;
    }
    H().Released.notify_all();
}

bool OpenWaiting()
{
    std::lock_guard<std::mutex> Lock(H().Mutex);
    return H().Waiting;
}

void SetCallSink(void (*Sink)(const Call&)) { GSink = Sink; }

} // namespace VelmorDouble

using namespace VelmorDouble;

extern "C" {

VLM_BOOL VLM_OpenDevice(void)
{
    {
        std::unique_lock<std::mutex> Lock(H().Mutex);
        H().Waiting = H().Held;
        H().Released.wait(Lock, [] { return !H().Held; });
        H().Waiting = false;
    }
    if (!Enter("VLM_OpenDevice"))
        return 0;
    return S().OpenOk ? 1 : 0;
}
VLM_BOOL VLM_CloseDevice(void) { return Enter("VLM_CloseDevice") ? 1 : 0; }
VLM_BOOL VLM_GetInfo(char** text)
{
    bool Ok = Enter("VLM_GetInfo");
    if (Ok && text && !S().InfoNull)
        *text = const_cast<char*>(S().InfoText.c_str());
    return Ok && S().InfoOk ? 1 : 0;
}
VLM_BOOL VLM_GetLastError(char** text)
{
    Record(Call{"VLM_GetLastError", {}});
    if (text)
        *text = S().LastErrorNull ? nullptr : const_cast<char*>(S().LastError.c_str());
    return 1;
}

VLM_BOOL VLM_SetMode(int32_t step, int32_t decay) { return Enter("VLM_SetMode", {step, decay}); }
VLM_BOOL VLM_SetIw(int32_t v) { return Enter("VLM_SetIw", {v}); }
VLM_BOOL VLM_SetIa(int32_t v) { return Enter("VLM_SetIa", {v}); }
VLM_BOOL VLM_SetIh(int32_t v) { return Enter("VLM_SetIh", {v}); }
VLM_BOOL VLM_SetVm(int32_t v) { return Enter("VLM_SetVm", {v}); }
VLM_BOOL VLM_SetVw(int32_t v) { return Enter("VLM_SetVw", {v}); }
VLM_BOOL VLM_SetAw(int32_t v) { return Enter("VLM_SetAw", {v}); }
VLM_BOOL VLM_SetLim(int32_t b, int32_t f, int32_t h) { return Enter("VLM_SetLim", {b, f, h}); }
VLM_BOOL VLM_SetCtrl(int32_t v) { return Enter("VLM_SetCtrl", {v}); }
VLM_BOOL VLM_SetNc(int32_t v) { return Enter("VLM_SetNc", {v}); }
VLM_BOOL VLM_StartD(int32_t v) { return Enter("VLM_StartD", {v}); }
VLM_BOOL VLM_StartN(int32_t v) { return Enter("VLM_StartN", {v}); }
VLM_BOOL VLM_StartdN(int32_t v) { return Enter("VLM_StartdN", {v}); }
VLM_BOOL VLM_Home(int32_t v) { return Enter("VLM_Home", {v}); }
VLM_BOOL VLM_Stop(void) { return Enter("VLM_Stop"); }
VLM_BOOL VLM_SavePar(void) { return Enter("VLM_SavePar"); }

VLM_BOOL VLM_GetStat(int32_t* v) { return Read("VLM_GetStat", v); }
VLM_BOOL VLM_GetNc(int32_t* v) { return Read("VLM_GetNc", v); }
VLM_BOOL VLM_GetNb(int32_t* v) { return Read("VLM_GetNb", v); }
VLM_BOOL VLM_GetVc(int32_t* v) { return Read("VLM_GetVc", v); }
VLM_BOOL VLM_GetLim(int32_t* v) { return Read("VLM_GetLim", v); }
VLM_BOOL VLM_GetAdc(int32_t* v) { return Read("VLM_GetAdc", v); }

} // extern "C"
