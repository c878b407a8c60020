#include "platform/IniFile.h"

// Placeholder until the settings file layer lands: reads nothing, writes nothing.
TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName)) {}
int32_t TIniFile::ReadInteger(const std::string&, const std::string&, int32_t Default) const { return Default; }
bool TIniFile::ReadBool(const std::string&, const std::string&, bool Default) const { return Default; }
void TIniFile::WriteInteger(const std::string&, const std::string&, int32_t) {}
void TIniFile::WriteBool(const std::string&, const std::string&, bool) {}
void TIniFile::UpdateFile() {}

std::string ChangeFileExt(const std::string& Path, const std::string& Ext)
{
    auto Slash = Path.find_last_of('/');
    auto Dot = Path.find_last_of('.');
    if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash))
        return Path + Ext;
    return Path.substr(0, Dot) + Ext;
}
