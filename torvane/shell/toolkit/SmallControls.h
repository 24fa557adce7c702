#pragma once
// The small controls of the dialogs: the colour picker, the browse edit (a
// file or folder chooser) and the font-name combo box.

#include "ColorRef.h"

#include <QComboBox>
#include <QFont>
#include <QString>
#include <QToolButton>
#include <QWidget>

class QLineEdit;

// A button showing a colour swatch; clicking it lets the user choose another
// colour. The colour is kept as the stored 32-bit value and read back
// unchanged until the user picks a new one.
class CColorPicker : public QToolButton
{
  Q_OBJECT
public:
  explicit CColorPicker(QWidget* parent = nullptr);

  // Sets the colour without a notice.
  void SetColor(ColorRef color);
  ColorRef GetColor() const { return m_color; }
  // The drawable colour.
  QColor Color() const { return ColorRefToQColor(m_color); }

  // Lets the user choose; true when a colour was chosen (and noticed).
  bool Choose();

signals:
  void colorSelected(ColorRef color);

protected:
  // Asks the user for a colour; false when the user cancelled.
  virtual bool PromptColor(const QColor& initial, QColor* chosen);

private:
  void UpdateSwatch();
  ColorRef m_color = 0;
};

// An edit with a browse button that picks a file or a folder into it.
class CBrowseEdit : public QWidget
{
  Q_OBJECT
public:
  enum class Mode { File, Folder };

  explicit CBrowseEdit(QWidget* parent = nullptr);

  void SetMode(Mode mode) { m_mode = mode; }
  Mode GetMode() const { return m_mode; }
  // File dialog filter, as in "VKR Package(*.vkr)"; several separated by ";;".
  void SetFilter(const QString& filter) { m_filter = filter; }
  QString Filter() const { return m_filter; }
  // Where the chooser opens when the edit holds no usable path.
  void SetInitialFolder(const QString& folder) { m_initialFolder = folder; }

  // Setting the text is a change like any other: the notice follows, also
  // when the text was already shown.
  void SetText(const QString& text);
  QString Text() const;
  QLineEdit* Edit() const { return m_edit; }

  // Opens the chooser; true when the user picked a path (now in the edit).
  bool Browse();

signals:
  // Every change of the text, typed, chosen or set.
  void textChanged(const QString& text);

protected:
  // Asks the user for a path; an empty result means cancelled.
  virtual QString PromptPath(const QString& startPath);

private:
  QLineEdit* m_edit;
  QToolButton* m_button;
  Mode m_mode = Mode::File;
  QString m_filter;
  QString m_initialFolder;
};

// A drop-down list of the installed font families.
class CFontNameCombo : public QComboBox
{
  Q_OBJECT
public:
  explicit CFontNameCombo(QWidget* parent = nullptr);

  // Fills the list with the installed families (done at construction).
  void FillFonts();
  // Selects a family by name, ignoring case. A name that is not installed is
  // added to the list and selected, so a stored choice is kept as it is.
  // Returns true when the name was among the installed families.
  bool SelectFontName(const QString& name);
  QString SelectedFontName() const;
  // A font of the selected family (point size from the widget's font).
  QFont SelectedFont() const;

signals:
  void fontNameChanged(const QString& name);

private:
  QStringList m_installed;
};
