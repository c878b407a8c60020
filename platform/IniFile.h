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

    // The value text of a key as held (trimmed), or Default when the key is
    // missing.
    std::string ReadString(const std::string& Section, const std::string& Key,
                           const std::string& Default) const;
    bool ValueExists(const std::string& Section, const std::string& Key) const;

    // Replaces the memory copy by the file text Text, parsed by the reading
    // rules, as if the file had held it.
    void SetText(const std::string& Text);
    // The exact bytes UpdateFile would write.
    std::string Text() const;

    // The integer reading rule on its own: true and Value set when Text is a
    // 32-bit signed decimal or a "0x" hexadecimal number.
    static bool ParseInteger(const std::string& Text, int32_t& Value);

private:
    struct TLine {
        std::string Text;      // "key=value", or a line without "=" as it stood
        std::size_t KeyLength; // length of the key, npos when the line has no "="
    };
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;
    };

    const TSection* FindSection(const std::string& Name) const;
    TSection* FindSection(const std::string& Name);
    const TLine* FindLine(const std::string& Section, const std::string& Key) const;
    void WriteValue(const std::string& Section, const std::string& Key, const std::string& Value);

    std::string FFileName;
    std::vector<TSection> FSections;
};

// The path with its extension replaced by Ext (".ini"); a name without an
// extension gets Ext appended.
std::string ChangeFileExt(const std::string& Path, const std::string& Ext);
