#include "FontSettings.h"

#include "PrivateProfile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace {

const wchar_t* const kBold = L"m_bBold";
const wchar_t* const kItalic = L"m_bItalic";
const wchar_t* const kUnderline = L"m_bUnderline";
const wchar_t* const kSize = L"m_strFontSize";
const wchar_t* const kName = L"m_strFontName";
const wchar_t* const kColor = L"m_crCurrent";

// A colour as the profile holds it: a 32-bit value written as a signed
// decimal ("-16777216" for 0xFF000000). Unsigned and "0x" forms are read as
// well. Text that is no number gives 0, like the profile's integer reads;
// a number outside 32 bits keeps its low 32 bits.
ColorRef ParseColor(const std::wstring& text)
{
    const std::string s(text.begin(), text.end());
    const char* p = s.c_str();
    while (*p == ' ' || *p == '\t') ++p;
    errno = 0;
    char* end = nullptr;
    const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    const long long v = std::strtoll(p, &end, hex ? 16 : 10);
    if (end == p || errno == ERANGE) return 0;
    return static_cast<ColorRef>(static_cast<unsigned long long>(v) & 0xFFFFFFFFull);
}

std::wstring ColorText(ColorRef c)
{
    return std::to_wstring(static_cast<int32_t>(c));
}

QString ToQ(const std::wstring& s) { return QString::fromStdWString(s); }

}  // namespace

std::wstring UserProfilePath()
{
    const QByteArray env = qgetenv("TORVANE_PROFILE");
    if (!env.isEmpty()) return QString::fromLocal8Bit(env).toStdWString();
    return (QDir::homePath() + QStringLiteral("/.config/Torvane/Torvane.ini")).toStdWString();
}

const wchar_t* const FontSettings::kSection = L"Settings";
const wchar_t* const FontSettings::kDefaultName = L"Verdana";
const wchar_t* const FontSettings::kDefaultSize = L"15";

FontSettings FontSettings::Load(const std::wstring& profile)
{
    FontSettings s;
    s.bold = PrivateProfileGetInt(kSection, kBold, 0, profile) != 0;
    s.italic = PrivateProfileGetInt(kSection, kItalic, 0, profile) != 0;
    s.underline = PrivateProfileGetInt(kSection, kUnderline, 0, profile) != 0;
    s.fontSize = ToQ(PrivateProfileGetString(kSection, kSize, kDefaultSize, profile));
    s.fontName = ToQ(PrivateProfileGetString(kSection, kName, kDefaultName, profile));
    const std::wstring color = PrivateProfileGetString(kSection, kColor, std::wstring(), profile);
    s.color = color.empty() ? kColorAutomatic : ParseColor(color);
    return s;
}

bool FontSettings::Store(const std::wstring& profile) const
{
    if (profile.empty()) return false;
    QDir().mkpath(QFileInfo(ToQ(profile)).absolutePath());
    bool ok = PrivateProfileWriteString(kSection, kBold, bold ? L"1" : L"0", profile);
    ok = PrivateProfileWriteString(kSection, kItalic, italic ? L"1" : L"0", profile) && ok;
    ok = PrivateProfileWriteString(kSection, kUnderline, underline ? L"1" : L"0", profile) && ok;
    ok = PrivateProfileWriteString(kSection, kSize, fontSize.toStdWString(), profile) && ok;
    ok = PrivateProfileWriteString(kSection, kName, fontName.toStdWString(), profile) && ok;
    ok = PrivateProfileWriteString(kSection, kColor, ColorText(color), profile) && ok;
    return ok;
}

QFont FontSettings::ApplyTo(QFont f) const
{
    bool ok = false;
    const int size = fontSize.trimmed().toInt(&ok);
    if (ok && size > 0) f.setPixelSize(size);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    f.setItalic(italic);
    f.setUnderline(underline);
    return f;
}

bool FontSettings::Stored(const std::wstring& profile)
{
    return !PrivateProfileGetString(kSection, kName, std::wstring(), profile).empty();
}
