#include "core/SampleCsv.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace Core {

namespace {

constexpr int64_t Second = 1000000;

// The time of a row in seconds, as velmorctl counts it: a division of the
// exact elapsed time, printed with three decimals.
void AppendSeconds(std::string& Out, int64_t Us)
{
    char Buf[48];
    std::snprintf(Buf, sizeof Buf, "%.3f", static_cast<double>(Us) / Second);
    Out += Buf;
}

void AppendInt(std::string& Out, int32_t V)
{
    char Buf[16];
    std::snprintf(Buf, sizeof Buf, "%" PRId32, V);
    Out += Buf;
}

} // namespace

const char* SampleCsvHeader() { return "time_s,time_utc,coordinate,speed,limits,state_code,state,error"; }

std::string CsvField(const std::string& Text)
{
    if (Text.find_first_of(",\"\r\n") == std::string::npos)
        return Text;
    std::string R = "\"";
    for (char C : Text) {
        if (C == '"')
            R += '"';
        R += C == '\r' || C == '\n' ? ' ' : C;
    }
    return R + "\"";
}

std::string UtcText(int64_t UtcUs)
{
    const time_t Secs = static_cast<time_t>(UtcUs / Second);
    const int Ms = static_cast<int>((UtcUs % Second) / 1000);
    tm Utc{};
    gmtime_r(&Secs, &Utc);
    char Buf[96];
    std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", Utc.tm_year + 1900, Utc.tm_mon + 1,
                  Utc.tm_mday, Utc.tm_hour, Utc.tm_min, Utc.tm_sec, Ms);
    return Buf;
}

std::string SampleCsvRow(const PollSample& S, int64_t OriginSteadyUs, StateTextFn StateText)
{
    std::string Row;
    Row.reserve(96);
    AppendSeconds(Row, S.SteadyUs - OriginSteadyUs);
    Row += ',';
    Row += UtcText(S.UtcUs);
    Row += ',';
    if (!S.Ok) {
        // A failed row always says so, also when the library gave no text.
        Row += ",,,,,";
        Row += S.Error.empty() ? std::string("the read failed") : CsvField(S.Error);
        return Row;
    }
    if (S.HasMotion) {
        AppendInt(Row, S.Coordinate);
        Row += ',';
        AppendInt(Row, S.Speed);
        Row += ',';
        AppendInt(Row, S.Limits);
        Row += ',';
    } else {
        Row += ",,,";
    }
    if (S.HasState) {
        AppendInt(Row, S.StateCode);
        Row += ',';
        Row += CsvField(StateText ? StateText(S.StateCode) : "");
    } else {
        Row += ',';
    }
    Row += ',';
    return Row;
}

} // namespace Core
