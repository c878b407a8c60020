#pragma once

// The mark our libvelmor.so carries: an ELF note section, so that a program
// that loaded a device library can tell ours (which reads the link setting,
// linksetting/LinkConfig.h) from one dropped in its place, without calling it.
namespace LibraryMark {

inline constexpr const char* SectionName = ".note.velmor.link";
// The note's name field; its descriptor is the setting's format version.
inline constexpr char NoteName[] = "Velmor";
inline constexpr unsigned NoteType = 0x564C4D31; // "VLM1"
inline constexpr unsigned FormatVersion = 1;

} // namespace LibraryMark
