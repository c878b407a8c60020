#pragma once

#include <string>
#include <utility>

// How a step below the device library's seam reports its outcome: done, or
// why not, as a text for a person and a code for a program. Every layer from
// the core to the line client and the programs' loops speaks it; above the
// seam the panel turns a library failure into EHardwareException.
namespace Core {

class Status {
public:
    // Done.
    Status() = default;
    // Not done, for the reason Text says; Code tells kinds of failure apart
    // where a caller acts on the difference (an exit code, a refusal reason).
    static Status Fail(std::string Text, int Code = 1) { return Status(Code ? Code : 1, std::move(Text)); }

    bool Ok() const { return FCode == 0; }
    explicit operator bool() const { return Ok(); }
    int Code() const { return FCode; }
    const std::string& Text() const { return FText; }

private:
    Status(int Code, std::string Text) : FCode(Code), FText(std::move(Text)) {}
    int FCode = 0;
    std::string FText;
};

// A value, or the Status that says why there is none.
template <class T>
class Result {
public:
    Result(T Value) : FValue(std::move(Value)) {}
    Result(Status Why) : FStatus(std::move(Why)) {}

    bool Ok() const { return FStatus.Ok(); }
    explicit operator bool() const { return Ok(); }
    const Status& Why() const { return FStatus; }
    const std::string& Error() const { return FStatus.Text(); }
    // Only when Ok().
    T& Value() { return FValue; }
    const T& Value() const { return FValue; }
    T& operator*() { return FValue; }
    const T& operator*() const { return FValue; }
    T* operator->() { return &FValue; }
    const T* operator->() const { return &FValue; }

private:
    T FValue{};
    Status FStatus;
};

} // namespace Core
