// The program's name and version, as it shows them to clients, in its log and
// on its command line.
#pragma once

inline constexpr const char PROGRAM_NAME[] = "zembrovald";
inline constexpr const char PROGRAM_VERSION[] = "1.1.2";
