#include "FontComboDlg.h"

#include "ControlIds.h"
#include "SmallControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

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
    return s.ApplyTo(family);
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
