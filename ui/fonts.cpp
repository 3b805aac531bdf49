#include "ui/fonts.h"

#include <cstring>
#include <vector>

#include "engine/numbers.h"
#include "ui/form.h"

namespace {

constexpr int kTableDpi = 96;  // what bitmap faces are drawn for

struct FaceInfo {
  BYTE charSet = ANSI_CHARSET;
  bool found = false;
  bool scalable = false;
};

// The last member enumerated decides the character set.
int CALLBACK StoreFaceInfo(const LOGFONTA* font, const TEXTMETRICA*, DWORD type, LPARAM info) {
  auto* face = reinterpret_cast<FaceInfo*>(info);
  face->charSet = font->lfCharSet;
  face->found = true;
  if (!(type & RASTER_FONTTYPE)) face->scalable = true;
  return 1;
}

FaceInfo FaceInfoOf(HDC dc, const std::string& face) {
  FaceInfo info;
  EnumFontFamiliesA(dc, face.c_str(), StoreFaceInfo, reinterpret_cast<LPARAM>(&info));
  return info;
}

// A bitmap face is drawn for 96 DPI and blurs or jumps sizes at any other scale; its
// TrueType twin of the same design stays crisp there.
std::string ScalableFace(HDC dc, const std::string& face, int dpi) {
  if (dpi == kTableDpi || _stricmp(face.c_str(), "MS Sans Serif") != 0) return face;
  if (FaceInfoOf(dc, face).scalable) return face;
  // Every Windows has both; Tahoma is the face Windows itself took over the dialogs with.
  if (FaceInfoOf(dc, "Microsoft Sans Serif").found) return "Microsoft Sans Serif";
  return "Tahoma";
}

std::vector<std::string> SplitSpec(const std::string& spec) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = spec.find(',', start);
    fields.push_back(spec.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  fields.resize(14);
  return fields;
}

// Negative heights are character heights in table pixels, positive ones points.
HFONT MakeFont(const std::string& spec, int dpi) {
  std::vector<std::string> f = SplitSpec(spec);
  if (f[0].empty()) return nullptr;
  int height = ParseNumber(f[1]);
  height = height > 0 ? -((height * dpi) / 72) : -TablePx(-height, dpi);
  HDC dc = GetDC(nullptr);
  std::string face = ScalableFace(dc, f[0], dpi);
  BYTE charSet = FaceInfoOf(dc, face).charSet;
  ReleaseDC(nullptr, dc);
  return CreateFontA(height, 0, 0, 0, ParseNumber(f[5]), static_cast<DWORD>(ParseNumber(f[6])),
                     static_cast<DWORD>(ParseNumber(f[7])), static_cast<DWORD>(ParseNumber(f[8])),
                     charSet, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

}  // namespace

// Fonts live for the whole process, one per distinct spec text and DPI.
HFONT FontFromSpec(const std::string& spec, int dpi) {
  struct Cached {
    std::string spec;
    int dpi;
    HFONT font;
  };
  static std::vector<Cached> cache;
  for (const Cached& c : cache)
    if (c.spec == spec && c.dpi == dpi && c.font) return c.font;
  HFONT font = MakeFont(spec, dpi);
  cache.push_back({spec, dpi, font});
  return font;
}

// Not LR_SHARED: the shared cache hands back the size loaded first, whatever size is asked.
HICON IconOfSize(const char* name, int width, int height) {
  struct Cached {
    std::string name;
    int width, height;
    HICON icon;
  };
  static std::vector<Cached> cache;
  for (const Cached& c : cache)
    if (c.name == name && c.width == width && c.height == height && c.icon) return c.icon;
  auto icon =
      static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_ICON, width, height, 0));
  cache.push_back({name, width, height, icon});
  return icon;
}
