#pragma once
// Colours as the program stores them: a 32-bit value laid out 0xAABBGGRR,
// red in the low byte. The top byte is not a transparency: 0xFF000000 is the
// "automatic" colour the font settings keep as their default, drawn as black.
// Values are carried unchanged through the controls so that what was stored
// reads back bit for bit.

#include <QColor>
#include <cstdint>

using ColorRef = std::uint32_t;

constexpr ColorRef kColorAutomatic = 0xFF000000u;

constexpr ColorRef MakeColorRef(int r, int g, int b)
{
  return static_cast<ColorRef>(r & 0xFF) | (static_cast<ColorRef>(g & 0xFF) << 8) |
         (static_cast<ColorRef>(b & 0xFF) << 16);
}

constexpr int ColorRefRed(ColorRef c) { return static_cast<int>(c & 0xFF); }
constexpr int ColorRefGreen(ColorRef c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int ColorRefBlue(ColorRef c) { return static_cast<int>((c >> 16) & 0xFF); }

// The drawable colour of a stored value; the top byte plays no part.
inline QColor ColorRefToQColor(ColorRef c)
{
  return QColor(ColorRefRed(c), ColorRefGreen(c), ColorRefBlue(c));
}

inline ColorRef QColorToColorRef(const QColor& c)
{
  return MakeColorRef(c.red(), c.green(), c.blue());
}
