// Fuzz target of the device library's link setting.
//
// The first input byte picks what the rest is: even, one setting line for
// ParseLinkLine; odd, the whole text of link.conf for LinkSettingFrom (its
// file rules: comments, blank lines, one setting). Properties checked:
//  - nothing crashes, whatever the bytes;
//  - an accepted setting has its fields in range (address 1..247, timeout
//    0..10000, watchdog 0..65535 or not given, a standard speed, a path or
//    a numeric host with a port);
//  - a refused one has a text, and the text names where it was read and
//    holds no control characters.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "linksetting/LinkConfig.h"

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Text)
{
    std::fprintf(stderr, "%s: '%s'\n", What, Text.c_str());
    std::abort();
}

std::string FileText;

int ReadFake(const std::string&, std::string& Text)
{
    Text = FileText;
    return 0;
}

void CheckConfig(const Link::LinkConfig& C, const std::string& Input)
{
    using Kind = Link::LinkConfig::Kind;
    if (C.Address < 1 || C.Address > 247)
        Fail("address out of range accepted", Input);
    if (C.TimeoutMs < 0 || C.TimeoutMs > 10000)
        Fail("timeout out of range accepted", Input);
    if (C.WatchdogMs < -1 || C.WatchdogMs > 65535)
        Fail("watchdog out of range accepted", Input);
    if (C.Baud < 1200 || C.Baud > 921600)
        Fail("speed out of range accepted", Input);
    if (C.Type == Kind::Serial && C.Path.empty())
        Fail("serial without a path accepted", Input);
    if ((C.Type == Kind::Tcp || C.Type == Kind::ModbusTcp) && (C.Host.empty() || C.Port < 1 || C.Port > 65535))
        Fail("tcp without host or port accepted", Input);
    if (C.Parity != Link::Parity::None && C.Parity != Link::Parity::Even && C.Parity != Link::Parity::Odd)
        Fail("unknown parity accepted", Input);
    if (C.StopBits != 1 && C.StopBits != 2)
        Fail("stop bits other than 1 or 2 accepted", Input);
    if (C.Type != Kind::Serial && (C.Parity != Link::Parity::Even || C.StopBits != 1))
        Fail("framing accepted behind a gateway", Input);
    // No parity without stop bits given is 8N2: a line saying stopbits=1
    // is the only way to 8N1.
    if (C.Type == Kind::Serial && C.Parity == Link::Parity::None && C.StopBits == 1 &&
        Input.find("stopbits=1") == std::string::npos)
        Fail("8N1 without stopbits=1", Input);
    for (char Ch : C.TracePath)
        if (static_cast<unsigned char>(Ch) < 0x20 || Ch == 0x7F || Ch == '&')
            Fail("trace path with a control character or '&'", Input);
}

void CheckText(const std::string& Text, const std::string& Input)
{
    if (Text.empty())
        Fail("refused without a text", Input);
    for (char C : Text)
        if (static_cast<unsigned char>(C) < 0x20 || C == 0x7F)
            Fail("control character in the text", Input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 1)
        return 0;
    const std::string Input(reinterpret_cast<const char*>(Data + 1), Size - 1);
    if ((Data[0] & 1) == 0) {
        const Core::Result<Link::LinkConfig> C = Link::ParseLinkLine(Input);
        if (C)
            CheckConfig(*C, Input);
        else
            CheckText(C.Error(), Input);
        return 0;
    }
    FileText = Input;
    Link::LinkSetting S = Link::LinkSettingFrom(nullptr, "/cfg", "/home", ReadFake);
    if (S.Ok) {
        CheckConfig(S.Config, Input);
    } else {
        CheckText(S.Error, Input);
        if (S.Error.find("/cfg/velmor/link.conf") == std::string::npos)
            Fail("text does not name the file", Input);
    }
    return 0;
}
