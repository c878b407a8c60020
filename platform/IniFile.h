#pragma once

#include <cstdint>
#include <string>

#include "platform/Exception.h"

// A file too large to be taken for a settings file (over 64 MiB).
class EFileTooLarge : public Exception {
public:
    using Exception::Exception;
};

// The in-memory INI file of the settings (rules in IniFile.cpp).
class TIniFile {
public:
    // Reads the whole file into memory. A file that does not exist reads as
    // empty; one that exists but cannot be read throws Exception, and one too
    // large to be a settings file EFileTooLarge.
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
    // A stretch [Begin, End) of the memory copy.
    struct TSpan {
        std::size_t Begin = 0;
        std::size_t End = 0;
    };

    // The lines of the first section of that name, each with its CR LF.
    bool FindSection(const std::string& Name, TSpan& Body) const;
    // The first line of that key in the first section of that name, without
    // its CR LF, and where its "=" stands; also the section's lines.
    bool FindLine(const std::string& Section, const std::string& Key, TSpan& Line, std::size_t& Eq,
                  TSpan* SectionBody) const;
    void WriteValue(const std::string& Section, const std::string& Key, const std::string& Value);
    // Rewrites the existing file Target in place (Path names it in errors).
    void WriteInPlace(const std::string& Target, const std::string& Path) const;

    std::string FFileName;
    std::string FText;
};

// The path with its extension replaced by Ext (".ini"); a name without an
// extension gets Ext appended.
std::string ChangeFileExt(const std::string& Path, const std::string& Ext);
