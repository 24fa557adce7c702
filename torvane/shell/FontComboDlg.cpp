#include "FontComboDlg.h"

#include "ControlIds.h"
#include "PrivateProfile.h"
#include "SmallControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
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

// ---- sample --------------------------------------------------------------

CSampleText::CSampleText(QWidget* parent) : QWidget(parent)
{
    SetCtrlId(this, CFontComboDlg::IDC_SAMPLE);
    setMinimumSize(200, 48);
}

void CSampleText::SetSampleFont(const QFont& font, ColorRef color)
{
    font_ = font;
    color_ = color;
    update();
}

void CSampleText::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient g(rect().topLeft(), rect().bottomLeft());
    const QColor base = palette().color(QPalette::Window);
    g.setColorAt(0, base.lighter(115));
    g.setColorAt(1, base.darker(110));
    p.fillRect(rect(), g);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setFont(font_);
    p.setPen(ColorRefToQColor(color_));
    p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text_);
}

// ---- dialog --------------------------------------------------------------

const char* const CFontComboDlg::kSizes[7] = {"5", "7", "9", "12", "15", "18", "24"};

CFontComboDlg::CFontComboDlg(QWidget* parent, std::wstring profilePath)
    : QDialog(parent),
      profile_(std::move(profilePath)),
      settings_(FontSettings::Load(profile_)),
      names_(new CFontNameCombo(this)),
      sizes_(new QComboBox(this)),
      picker_(new CColorPicker(this)),
      bold_(new QCheckBox(QString::fromUtf8("黑体"), this)),
      italic_(new QCheckBox(QString::fromUtf8("斜体"), this)),
      underline_(new QCheckBox(QString::fromUtf8("下划线"), this)),
      sample_(new CSampleText(this))
{
    SetCtrlId(this, IDD);
    setWindowTitle(QStringLiteral("FontCombo"));
    SetCtrlId(names_, IDC_FONT_NAME);
    SetCtrlId(sizes_, IDC_FONT_SIZE);
    SetCtrlId(picker_, IDC_COLOR);
    SetCtrlId(bold_, IDC_BOLD);
    SetCtrlId(italic_, IDC_ITALIC);
    SetCtrlId(underline_, IDC_UNDERLINE);
    italic_->setEnabled(false);
    underline_->setEnabled(false);
    auto* ok = new QPushButton(QString::fromUtf8("确定"), this);
    SetCtrlId(ok, IDC_OK);
    ok->setDefault(true);

    auto* grid = new QGridLayout;
    grid->addWidget(names_, 0, 0, 1, 2);
    grid->addWidget(sizes_, 0, 2);
    grid->addWidget(picker_, 0, 3);
    grid->addWidget(bold_, 1, 0);
    grid->addWidget(italic_, 1, 1);
    grid->addWidget(underline_, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addWidget(sample_, 1);
    top->addLayout(buttons);

    // Initialisation: the lists, the stored choice, then the sample.
    names_->SelectFontName(settings_.fontName);
    for (const char* s : kSizes) sizes_->addItem(QString::fromLatin1(s));
    // A stored size that is not in the list leaves the list without a
    // selection.
    sizes_->setCurrentIndex(sizes_->findText(settings_.fontSize, Qt::MatchExactly));
    bold_->setChecked(settings_.bold);
    italic_->setChecked(settings_.italic);
    underline_->setChecked(settings_.underline);
    picker_->SetColor(settings_.color);
    sample_->SetSampleFont(SampleFontFor(names_->SelectedFont(), settings_), settings_.color);
    ready_ = true;

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(names_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { UpdateSample(); });
    connect(sizes_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { UpdateSample(); });
    for (QCheckBox* box : {bold_, italic_, underline_})
        connect(box, &QCheckBox::toggled, this, [this] { UpdateSample(); });
    connect(picker_, &CColorPicker::colorSelected, this, [this](ColorRef c) { OnColorChosen(c); });
}

CFontComboDlg::~CFontComboDlg()
{
    settings_.Store(profile_);
}

QFont CFontComboDlg::SampleFontFor(const QFont& family, const FontSettings& s)
{
    QFont f = family;
    bool ok = false;
    const int size = s.fontSize.trimmed().toInt(&ok);
    if (ok && size > 0) f.setPixelSize(size);
    f.setWeight(s.bold ? QFont::Bold : QFont::Normal);
    f.setItalic(s.italic);
    f.setUnderline(s.underline);
    return f;
}

void CFontComboDlg::UpdateSample()
{
    if (!ready_) return;
    settings_.fontName = names_->SelectedFontName();
    // The size is the list's text, empty while nothing is selected.
    settings_.fontSize = sizes_->currentIndex() >= 0 ? sizes_->currentText() : QString();
    settings_.bold = bold_->isChecked();
    settings_.italic = italic_->isChecked();
    settings_.underline = underline_->isChecked();
    sample_->SetSampleFont(SampleFontFor(names_->SelectedFont(), settings_), settings_.color);
    settings_.Store(profile_);
}

void CFontComboDlg::OnColorChosen(ColorRef color)
{
    settings_.color = color;
    sample_->SetSampleFont(sample_->SampleFont(), color);
}
