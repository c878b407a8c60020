#include "tests/support/VelmorDouble.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "device/Operations.h"

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
        return Enter(Name, {Args...});
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
