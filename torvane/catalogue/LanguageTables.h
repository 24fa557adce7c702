// The program's texts in English or Chinese.
//
// Files in the "Language/" folder of the program folder:
//   "setting.ini"        [Setting] Language = "English" or "Chinese" (also Device)
//   <language> + ".ini"  [MENU] captions of the drop-down menus and of the two
//                        language commands
//   "language.xls"       sheet 0: identifier (A), English text (C), Chinese
//                        text (D) of every dialog control, menu item and
//                        toolbar button
// Texts from the device workbooks carry both languages inline ("DEVICE,设备");
// PickVariant chooses one.
//
// The widgets are the shell's: it reads controlTexts(), MenuCaption() and
// CommandCaption() and puts a check mark on currentCommand().
#pragma once

#include "ProgramFolder.h"

#include <map>
#include <string>

// The variant of a multi-language text for `languageIndex`: the text is split
// at every ","; without a comma it is returned whole, otherwise the part at
// languageIndex, or the first part when there are fewer parts.
std::wstring PickVariant(const std::wstring& text, int languageIndex);

class LanguageTables {
public:
    static constexpr int kChineseCommand = 32772;
    static constexpr int kEnglishCommand = 32773;
    static constexpr int kLastTextRow = 1023;

    // Keys of section "MENU" of the language INI files and their defaults.
    struct MenuKey {
        const wchar_t* key;
        const wchar_t* defaultText;
    };
    static const MenuKey kDropDownMenus[6];  // the IDS_MENU_ keys

    explicit LanguageTables(std::wstring programFolder = ProgramFolder());

    // Once at start, before the main window exists: reads the chosen
    // language from "setting.ini" and loads its texts.
    void Start();

    // Switches to `name`: remembers it in "setting.ini" and loads its texts.
    // False (and nothing changes) when `name` is already current. After true
    // the shell translates its command bars again and reloads the parameter
    // table (see SwitchLanguage in DeviceCatalogue.h).
    bool SetLanguage(const std::wstring& name);

    // The variant of a multi-language text for the current language.
    std::wstring PickVariant(const std::wstring& text) const { return ::PickVariant(text, languageIndex_); }

    // controlTexts()[id], or empty when the identifier has no text.
    std::wstring ControlText(int id) const;
    // Caption for a drop-down menu shown with `shownCaption` (its resource
    // caption or a caption of any language loaded so far); empty when the
    // caption is not one of the drop-down menus or its text is empty.
    std::wstring MenuCaption(const std::wstring& shownCaption) const;
    // Caption of a language command (kChineseCommand, kEnglishCommand).
    std::wstring CommandCaption(int command) const;

    const std::wstring& current() const { return current_; }
    const std::wstring& previous() const { return previous_; }
    int currentCommand() const { return currentCommand_; }
    const std::map<std::wstring, std::wstring>& textToKey() const { return textToKey_; }
    const std::map<std::wstring, std::wstring>& keyToText() const { return keyToText_; }
    const std::map<int, std::wstring>& commandCaptions() const { return commandCaptions_; }
    const std::map<int, std::wstring>& controlTexts() const { return controlTexts_; }
    int languageIndex() const { return languageIndex_; }

    const std::wstring& programFolder() const { return programFolder_; }
    std::wstring SettingFile() const;
    std::wstring LanguageFile(const std::wstring& language) const;  // Language/<language>.ini
    std::wstring TextWorkbook() const;                              // Language/language.xls

private:
    void LoadTexts();
    void LoadControlTexts();

    std::wstring programFolder_;
    std::wstring current_;
    std::wstring previous_;
    int currentCommand_ = 0;
    std::map<std::wstring, std::wstring> textToKey_;
    std::map<std::wstring, std::wstring> keyToText_;
    std::map<int, std::wstring> commandCaptions_;
    std::map<int, std::wstring> controlTexts_;
    int languageIndex_ = 0;
};

// The language object of the running program.
LanguageTables& TheLanguageTables();
