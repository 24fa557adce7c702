// The user's font choice (name, size, bold, italic, underline, colour), kept
// in the user profile, section "Settings". The font dialog edits it; the data
// views show their grids in it.
#pragma once

#include "ColorRef.h"

#include <QFont>
#include <QString>

#include <string>

// The user profile: $TORVANE_PROFILE when set, else
// ~/.config/Torvane/Torvane.ini.
std::wstring UserProfilePath();

struct FontSettings {
    static const wchar_t* const kSection;   // "Settings"
    static const wchar_t* const kDefaultName;  // "Verdana"
    static const wchar_t* const kDefaultSize;  // "15"

    bool bold = false;
    bool italic = false;
    bool underline = false;
    QString fontSize = QStringLiteral("15");
    QString fontName = QStringLiteral("Verdana");
    ColorRef color = kColorAutomatic;

    // The six keys ("m_bBold", "m_bItalic", "m_bUnderline", "m_strFontSize",
    // "m_strFontName", "m_crCurrent"); defaults for missing ones. A colour
    // that is no number reads as 0, the way the profile calls read integers.
    static FontSettings Load(const std::wstring& profilePath);
    // Writes the six keys (creating the profile's folder); false when the
    // profile could not be written.
    bool Store(const std::wstring& profilePath) const;

    // base in the stored size (pixel height; a size that is no positive
    // number leaves base's size), weight, italic and underline.
    QFont ApplyTo(QFont base) const;
    // The font a view shows its data in: the stored name and the above.
    QFont ViewFont() const { return ApplyTo(QFont(fontName)); }
    // True when the profile holds a font choice (the font dialog was used).
    static bool Stored(const std::wstring& profilePath);

    bool operator==(const FontSettings& o) const
    {
        return bold == o.bold && italic == o.italic && underline == o.underline && fontSize == o.fontSize &&
               fontName == o.fontName && color == o.color;
    }
};
