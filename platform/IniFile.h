#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The in-memory INI file of the settings (rules in IniFile.cpp).
class TIniFile {
public:
    // Reads the whole file into memory. A file that does not exist reads as
    // empty; one that exists but cannot be read throws Exception.
    explicit TIniFile(std::string FileName);

    const std::string& FileName() const { return FFileName; }

    int32_t ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const;
    bool ReadBool(const std::string& Section, const std::string& Key, bool Default) const;
    void WriteInteger(const std::string& Section, const std::string& Key, int32_t Value);
    void WriteBool(const std::string& Section, const std::string& Key, bool Value);

    // Writes the memory copy back, whole. Throws Exception on failure
    // ("Cannot create file <path>" where the file cannot be created).
    void UpdateFile();

private:
    std::string FFileName;
};

// The path with its extension replaced by Ext (".ini"); a name without an
// extension gets Ext appended.
std::string ChangeFileExt(const std::string& Path, const std::string& Ext);
