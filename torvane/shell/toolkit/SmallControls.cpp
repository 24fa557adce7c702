#include "SmallControls.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>

// --- colour picker --------------------------------------------------------------

CColorPicker::CColorPicker(QWidget* parent) : QToolButton(parent)
{
  setToolButtonStyle(Qt::ToolButtonIconOnly);
  setIconSize(QSize(32, 14));
  connect(this, &QToolButton::clicked, this, [this] { Choose(); });
  UpdateSwatch();
}

void CColorPicker::SetColor(ColorRef color)
{
  m_color = color;
  UpdateSwatch();
}

bool CColorPicker::Choose()
{
  QColor chosen;
  if (!PromptColor(Color(), &chosen) || !chosen.isValid())
    return false;
  m_color = QColorToColorRef(chosen);
  UpdateSwatch();
  emit colorSelected(m_color);
  return true;
}

bool CColorPicker::PromptColor(const QColor& initial, QColor* chosen)
{
  const QColor c = QColorDialog::getColor(initial, this);
  if (!c.isValid())
    return false;
  *chosen = c;
  return true;
}

void CColorPicker::UpdateSwatch()
{
  QPixmap swatch(iconSize());
  swatch.fill(Color());
  QPainter p(&swatch);
  p.setPen(Qt::darkGray);
  p.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
  p.end();
  setIcon(QIcon(swatch));
}

// --- browse edit ----------------------------------------------------------------

CBrowseEdit::CBrowseEdit(QWidget* parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_button(new QToolButton(this))
{
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(m_edit, 1);
  layout->addWidget(m_button);
  m_button->setText(QStringLiteral("..."));
  setFocusProxy(m_edit);
  connect(m_edit, &QLineEdit::textChanged, this, &CBrowseEdit::textChanged);
  connect(m_button, &QToolButton::clicked, this, [this] { Browse(); });
}

void CBrowseEdit::SetText(const QString& text)
{
  // Setting the path already shown is a choice all the same: a package
  // picked again is opened again.
  if (m_edit->text() == text)
    emit textChanged(text);
  else
    m_edit->setText(text);
}

QString CBrowseEdit::Text() const { return m_edit->text(); }

bool CBrowseEdit::Browse()
{
  QString start = Text();
  const QFileInfo info(start);
  if (start.isEmpty() || (!info.exists() && !info.dir().exists()))
    start = m_initialFolder;
  const QString path = PromptPath(start);
  if (path.isEmpty())
    return false;
  SetText(QDir::toNativeSeparators(path));
  return true;
}

QString CBrowseEdit::PromptPath(const QString& startPath)
{
  if (m_mode == Mode::Folder)
    return QFileDialog::getExistingDirectory(this, QString(), startPath);
  return QFileDialog::getOpenFileName(this, QString(), startPath, m_filter);
}

// --- font-name combo --------------------------------------------------------------

CFontNameCombo::CFontNameCombo(QWidget* parent) : QComboBox(parent)
{
  setEditable(false);
  setInsertPolicy(QComboBox::NoInsert);
  FillFonts();
  connect(this, &QComboBox::currentTextChanged, this, &CFontNameCombo::fontNameChanged);
}

void CFontNameCombo::FillFonts()
{
  const QString keep = currentText();
  {
    const QSignalBlocker quiet(this);
    clear();
    m_installed = QFontDatabase::families();
    addItems(m_installed);
    const int i = findText(keep, Qt::MatchFixedString);
    setCurrentIndex(keep.isEmpty() ? -1 : i);
  }
  if (currentText() != keep)
    emit fontNameChanged(currentText());
}

bool CFontNameCombo::SelectFontName(const QString& name)
{
  int i = findText(name, Qt::MatchFixedString);
  const bool installed = m_installed.contains(name, Qt::CaseInsensitive);
  if (i < 0 && !name.isEmpty()) {
    insertItem(0, name);
    i = 0;
  }
  setCurrentIndex(i);
  return installed;
}

QString CFontNameCombo::SelectedFontName() const { return currentText(); }

QFont CFontNameCombo::SelectedFont() const
{
  QFont f = font();
  if (!currentText().isEmpty())
    f.setFamily(currentText());
  return f;
}
