#include "link/ServeOptions.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "core/SerialSpeeds.h"
#include "core/Text.h"

namespace Link {

Core::Result<std::vector<ServeOption>> ReadServeOptions(int Argc, char** Argv,
                                                        const std::vector<std::string>& WithValue,
                                                        const std::vector<std::string>& Flags, bool& Help)
{
    std::vector<ServeOption> Options;
    for (int I = 1; I < Argc; ++I) {
        ServeOption O{Argv[I], {}};
        const size_t Eq = O.Name.find('=');
        const bool Inline = O.Name.compare(0, 2, "--") == 0 && Eq != std::string::npos;
        if (Inline) {
            O.Value = O.Name.substr(Eq + 1);
            O.Name.resize(Eq);
        }
        if (O.Name == "--help" || O.Name == "-h") {
            Help = true;
            return Options;
        }
        const bool Flag = std::count(Flags.begin(), Flags.end(), O.Name) > 0;
        if (!Flag && std::count(WithValue.begin(), WithValue.end(), O.Name) == 0)
            return Core::Status::Fail("unknown option " + O.Name);
        if (!Flag && !Inline) {
            if (I + 1 >= Argc)
                return Core::Status::Fail(O.Name + " needs a value");
            O.Value = Argv[++I];
        }
        Options.push_back(O);
    }
    return Options;
}

bool ParseBounded(const std::string& Text, long Low, long High, long& Out)
{
    long V = 0;
    if (!Core::ParseDecimal(Text, V) || V < Low || V > High)
        return false;
    Out = V;
    return true;
}

Core::Result<bool> TakeLineOption(const ServeOption& Option, LineOptions& Line)
{
    const std::string& Value = Option.Value;
    long N = 0;
    if (Option.Name == "--baud") {
        if (!ParseBounded(Value, 1, 4000000, N) || !Core::KnownSpeed(static_cast<int>(N)))
            return Core::Status::Fail("--baud " + Value + ": use " + Core::SerialSpeedList(" or "));
        Line.Baud = static_cast<int>(N);
    } else if (Option.Name == "--parity") {
        static const std::pair<const char*, Parity> Names[] = {
            {"none", Parity::None}, {"even", Parity::Even}, {"odd", Parity::Odd}};
        const auto* Found = std::find_if(std::begin(Names), std::end(Names),
                                         [&Value](const auto& Name) { return Value == Name.first; });
        if (Found == std::end(Names))
            return Core::Status::Fail("--parity " + Value + ": use none, even or odd");
        Line.Framing = Found->second;
    } else if (Option.Name == "--stopbits") {
        if (Value != "1" && Value != "2")
            return Core::Status::Fail("--stopbits " + Value + ": use 1 or 2");
        Line.StopBits = Value[0] - '0';
    } else if (Option.Name == "--trace") {
        if (Value.empty())
            return Core::Status::Fail("--trace needs a file");
        Line.TracePath = Value;
    } else {
        return false;
    }
    return true;
}

} // namespace Link
