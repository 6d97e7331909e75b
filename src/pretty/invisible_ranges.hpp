#pragma once

// Generated; do not edit. The code points of Unicode's format (Cf), line separator (Zl) and
// paragraph separator (Zp) categories, in Unicode 14.0.0: every c with
// unicodedata.category(chr(c)) in ("Cf", "Zl", "Zp") under Python 3.11, consecutive code points
// merged into inclusive ranges, in ascending order. They draw nothing or change the layout or
// direction of the text around them.

namespace hexalume::pretty {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

inline constexpr CodePointRange kInvisibleRanges[] = {
    {0x00ad, 0x00ad},   {0x0600, 0x0605},   {0x061c, 0x061c},   {0x06dd, 0x06dd},
    {0x070f, 0x070f},   {0x0890, 0x0891},   {0x08e2, 0x08e2},   {0x180e, 0x180e},
    {0x200b, 0x200f},   {0x2028, 0x202e},   {0x2060, 0x2064},   {0x2066, 0x206f},
    {0xfeff, 0xfeff},   {0xfff9, 0xfffb},   {0x110bd, 0x110bd}, {0x110cd, 0x110cd},
    {0x13430, 0x13438}, {0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}, {0xe0001, 0xe0001},
    {0xe0020, 0xe007f},
};

}  // namespace hexalume::pretty
