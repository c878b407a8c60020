#pragma once

#include <string>

#include "linksetting/LinkConfig.h"

// The link setting's line for a LinkConfig, the inverse of ParseLinkLine:
// parsing the line gives the same LinkConfig back. Options at their default
// (baud 115200, address 1, automatic timeout) are left out, so the line reads
// as a person would write it: "serial:/dev/ttyUSB0?baud=9600",
// "tcp:[::1]:4001?address=3", "virtual".
namespace Link {

std::string FormatLinkLine(const LinkConfig& Config);

// The line for Config when the setting can carry it unchanged, checked by
// parsing it back; else a failure that says why (a path with '?' or a blank
// at its end, a host that is not a numeric address...).
Core::Result<std::string> LinkLineFor(const LinkConfig& Config);

// Writes Line as the whole setting file at Path, atomically: a temporary
// file in the same folder, flushed to disk, renamed over the old one, so a
// reader finds the old setting or the new one, never a part. The folders on
// the way are made (0700) when missing. On any failure the old file is
// untouched.
Core::Status SaveLinkFile(const std::string& Path, const std::string& Line);

// What the settings mean, in a few words for a person: "virtual controller",
// "/dev/ttyUSB0 at 9600 baud, address 3", "gateway 10.0.0.5:4001 (RTU over
// TCP), address 1".
std::string DescribeLink(const LinkConfig& Config);

} // namespace Link
