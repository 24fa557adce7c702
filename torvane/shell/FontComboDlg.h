// Font settings: the user's choice of font name, size, bold, italic,
// underline and colour, kept in the user profile (section "Settings"), and
// the small dialog that edits them with a live sample.
#pragma once

#include "ColorRef.h"
#include "FontSettings.h"

#include <QDialog>
#include <QFont>
#include <QString>
#include <QWidget>

#include <string>

class CColorPicker;
class CFontNameCombo;
class QCheckBox;
class QComboBox;

// The sample: its text centred on one line in the chosen font and colour over
// a soft gradient.
class CSampleText : public QWidget {
    Q_OBJECT
public:
    explicit CSampleText(QWidget* parent = nullptr);

    void SetSampleFont(const QFont& font, ColorRef color);
    QFont SampleFont() const { return font_; }
    ColorRef SampleColor() const { return color_; }
    QString Text() const { return text_; }

    QSize sizeHint() const override { return QSize(260, 60); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_ = QStringLiteral("Sample Text");
    QFont font_;
    ColorRef color_ = kColorAutomatic;
};

class CFontComboDlg : public QDialog {
    Q_OBJECT
public:
    enum {
        IDD = 102,
        IDC_SAMPLE = 1000,
        IDC_FONT_NAME = 1001,
        IDC_FONT_SIZE = 1002,
        IDC_COLOR = 1003,
        IDC_BOLD = 1004,
        IDC_ITALIC = 1005,
        IDC_UNDERLINE = 1006,
        IDC_OK = 2,
    };
    static const char* const kSizes[7];  // "5" ... "24"

    // Reads the six settings from the profile (the user's by default).
    explicit CFontComboDlg(QWidget* parent = nullptr, std::wstring profilePath = UserProfilePath());
    // Writes the six settings once more.
    ~CFontComboDlg() override;

    const FontSettings& Settings() const { return settings_; }
    const std::wstring& ProfilePath() const { return profile_; }

    CFontNameCombo* FontNames() const { return names_; }
    QComboBox* Sizes() const { return sizes_; }
    CColorPicker* Picker() const { return picker_; }
    QCheckBox* Bold() const { return bold_; }
    QCheckBox* Italic() const { return italic_; }
    QCheckBox* Underline() const { return underline_; }
    CSampleText* Sample() const { return sample_; }

    // Takes the choice from the controls, redraws the sample and writes the
    // six settings to the profile.
    void UpdateSample();
    // A colour chosen in the picker: sample redrawn, written later.
    void OnColorChosen(ColorRef color);

    // The font the sample uses for a setting: pixel height = size (a size
    // that is no positive number leaves the family's default size), weight
    // bold or normal, italic and underline.
    static QFont SampleFontFor(const QFont& family, const FontSettings& s);

private:
    std::wstring profile_;
    FontSettings settings_;
    CFontNameCombo* names_;
    QComboBox* sizes_;
    CColorPicker* picker_;
    QCheckBox* bold_;
    QCheckBox* italic_;
    QCheckBox* underline_;
    CSampleText* sample_;
    bool ready_ = false;
};
