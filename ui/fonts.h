// Fonts by spec text and DPI, and icons by size: made once, kept for the life of the process.
#pragma once
#include <windows.h>

#include <string>

// A spec is a face and LOGFONT fields; negative heights are 96-DPI pixels, positive points.
HFONT FontFromSpec(const std::string& spec, int dpi = 96);
// An icon resource drawn at the given size.
HICON IconOfSize(const char* name, int width, int height);

// Font specs shared by more than one form.
inline constexpr const char* kStandardFont = "MS Sans Serif,-11,0,0,0,400,0,0,0,0,1,2,1,34";
inline constexpr const char* kTahomaFont = "Tahoma,-12,0,0,0,400,0,0,0,0,3,2,1,34";
