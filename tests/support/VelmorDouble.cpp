#include "tests/support/VelmorDouble.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "device/Operations.h"
#include "libvelmor/velmor_session.h"

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
    Parameters Held{1, 0, 200, 300, 0, 50, 100, 100, 0, 0, 0, 32};
    std::string SessionLink;
    std::vector<std::pair<int32_t, std::string>> ScanFound;
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
std::atomic<int> GDelayUs{0};

// One lock for the double's state, whichever thread calls.
std::recursive_mutex& Lock()
{
    static std::recursive_mutex M;
    return M;
}
using Guard = std::lock_guard<std::recursive_mutex>;

// The line's time for one call, outside the lock.
void Wire()
{
    const int Us = GDelayUs.load();
    if (Us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(Us));
}

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

// How the double answers the call Name by its arguments: the device text, a
// reading, or a setting or command with its arguments recorded.
struct Answer {
    const char* Name;

    VLM_BOOL operator()(char** Text) const
    {
        bool Ok = Enter(Name);
        if (Ok && Text && !S().InfoNull)
            *Text = const_cast<char*>(S().InfoText.c_str());
        return Ok && S().InfoOk ? 1 : 0;
    }
    VLM_BOOL operator()(int32_t* Out) const { return Read(Name, Out); }
    template <class... Arg>
    VLM_BOOL operator()(Arg... Args) const
    {
        if (!Enter(Name, {Args...}))
            return 0;
        Hold({Args...});
        return 1;
    }

    // A setter's values become what the double holds.
    void Hold(const std::vector<int32_t>& Args) const
    {
        static const struct {
            const char* Setter;
            size_t First;
        } Setters[] = {{"SetMode", 0}, {"SetIw", 2}, {"SetIa", 3}, {"SetIh", 4}, {"SetVm", 5},
                       {"SetVw", 6},   {"SetAw", 7}, {"SetLim", 8}, {"SetCtrl", 11}};
        const std::string N = Name;
        const std::string Short = N.substr(N.find('_') + 1);
        for (const auto& X : Setters)
            if (Short == X.Setter)
                for (size_t I = 0; I < Args.size() && X.First + I < S().Held.size(); ++I)
                    S().Held[X.First + I] = Args[I];
    }
};

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
    Guard G(Lock());
    S() = State();
}
const std::vector<Call>& Calls() { return S().Calls; }

std::vector<std::string> Log()
{
    Guard G(Lock());
    std::vector<std::string> L;
    for (const Call& C : S().Calls)
        L.push_back(C.Str());
    return L;
}

std::vector<Call> CallsOf(const std::string& Name)
{
    Guard G(Lock());
    std::vector<Call> R;
    for (const Call& C : S().Calls)
        if (C.Name == Name)
            R.push_back(C);
    return R;
}

void ClearCalls() { Guard G(Lock()); S().Calls.clear(); }
void SetOpenResult(bool Ok) { Guard G(Lock()); S().OpenOk = Ok; }
void SetInfoText(const char* Text)
{
    Guard G(Lock());
    S().InfoNull = Text == nullptr;
    S().InfoText = Text ? Text : "";
}
void SetInfoResult(bool Ok) { Guard G(Lock()); S().InfoOk = Ok; }
void SetRead(const std::string& Name, int32_t Value) { Guard G(Lock()); S().Fixed[Name] = Value; }
void QueueRead(const std::string& Name, int32_t Value) { Guard G(Lock()); S().Queued[Name].push_back(Value); }
void Fail(const std::string& Name, const char* Text, int Times) { Guard G(Lock()); S().Failures[Name] = MakeFailure(Text, Times); }
void FailCallAt(int N, const char* Text)
{
    Guard G(Lock());
    S().FailAtCountdown = N;
    S().FailAt = MakeFailure(Text, 1);
}
void FailAll(const char* Text)
{
    Guard G(Lock());
    S().AllFail = true;
    S().AllFailure = MakeFailure(Text, -1);
}
void Restore()
{
    Guard G(Lock());
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

void SetCallSink(void (*Sink)(const Call&))
{
    Guard G(Lock());
    GSink = Sink;
}

void SetCallDelay(int Microseconds) { GDelayUs = Microseconds < 0 ? 0 : Microseconds; }

int WireTimeUs(int Baud)
{
    if (Baud <= 0)
        return 0;
    const double Characters = 8 + 9 + 2 * 3.5;
    return static_cast<int>(Characters * 11 * 1e6 / Baud);
}

void SetParameters(const Parameters& P) { S().Held = P; }
Parameters HeldParameters() { return S().Held; }
std::string SessionLink() { return S().SessionLink; }
void SetScanFound(const std::vector<std::pair<int32_t, std::string>>& Found) { S().ScanFound = Found; }

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
    Wire();
    Guard G(Lock());
    if (!Enter("VLM_OpenDevice"))
        return 0;
    return S().OpenOk ? 1 : 0;
}
VLM_BOOL VLM_CloseDevice(void)
{
    Wire();
    Guard G(Lock());
    return Enter("VLM_CloseDevice") ? 1 : 0;
}
VLM_BOOL VLM_GetLastError(char** text)
{
    Guard G(Lock());
    Record(Call{"VLM_GetLastError", {}});
    if (text)
        *text = S().LastErrorNull ? nullptr : const_cast<char*>(S().LastError.c_str());
    return 1;
}

#define VELMOR_DOUBLE(Name, Params, Args)                                                                           \
    VLM_BOOL VLM_##Name Params                                                                                     \
    {                                                                                                               \
        Wire();                                                                                                     \
        Guard G(Lock());                                                                                            \
        return Answer{"VLM_" #Name} Args;                                                                           \
    }
VELMOR_DEVICE_OPERATIONS(VELMOR_DOUBLE)
#undef VELMOR_DOUBLE

} // extern "C"

// The sessions: one token stands for every session.
extern "C" {

namespace {
char SessionToken;
}

VLMS_Session* VLMS_New(const char* link, int32_t address)
{
    S().SessionLink = link ? link : "(null)";
    Record(Call{"VLMS_New", {address}});
    return reinterpret_cast<VLMS_Session*>(&SessionToken);
}
void VLMS_Free(VLMS_Session*) { Record(Call{"VLMS_Free", {}}); }
VLM_BOOL VLMS_OpenDevice(VLMS_Session*)
{
    if (!Enter("VLMS_OpenDevice"))
        return 0;
    return S().OpenOk ? 1 : 0;
}
VLM_BOOL VLMS_CloseDevice(VLMS_Session*) { return Enter("VLMS_CloseDevice") ? 1 : 0; }
VLM_BOOL VLMS_GetLastError(VLMS_Session*, char** text)
{
    Record(Call{"VLMS_GetLastError", {}});
    if (text)
        *text = S().LastErrorNull ? nullptr : const_cast<char*>(S().LastError.c_str());
    return 1;
}
VLM_BOOL VLMS_ReadParameters(VLMS_Session*, VLMS_Parameters* out)
{
    if (!Enter("VLMS_ReadParameters"))
        return 0;
    const Parameters& P = S().Held;
    if (out)
        *out = VLMS_Parameters{P[0], P[1], P[2], P[3], P[4], P[5], P[6], P[7], P[8], P[9], P[10], P[11]};
    return 1;
}
VLM_BOOL VLMS_Scan(const char* link, const int32_t* addresses, int32_t count, VLMS_FoundFn found,
                   VLMS_ProgressFn progress, void* user, char* error, size_t error_size)
{
    S().SessionLink = link ? link : "(null)";
    std::vector<int32_t> List;
    if (addresses && count > 0)
        List.assign(addresses, addresses + count);
    else
        for (int32_t A = 1; A <= 247; ++A)
            List.push_back(A);
    if (!Enter("VLMS_Scan", List)) {
        if (error && error_size) {
            std::snprintf(error, error_size, "%s", S().LastError.c_str());
        }
        return 0;
    }
    const int32_t Total = static_cast<int32_t>(List.size());
    for (int32_t I = 0; I < Total; ++I) {
        for (const auto& F : S().ScanFound)
            if (F.first == List[static_cast<size_t>(I)] && found)
                found(user, F.first, F.second.c_str());
        if (progress && !progress(user, I + 1, Total))
            break;
    }
    return 1;
}

} // extern "C"
