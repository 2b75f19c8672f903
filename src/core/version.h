#pragma once
// The program's version, shown in the About box.
inline constexpr const char kProgramVersion[] = "1.0";
