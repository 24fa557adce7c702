#include "LanguageTables.h"

#include "PrivateProfile.h"
#include "SheetCells.h"

#include <utility>
#include <vector>

namespace {

struct CommandKey {
    int command;
    const wchar_t* key;
    const wchar_t* defaultText;
};

const CommandKey kCommands[] = {
    {LanguageTables::kChineseCommand, L"ID_LANGUAGE_CHINESE", L"Chinese"},
    {LanguageTables::kEnglishCommand, L"ID_LANGUAGE_ENGLISH", L"English"},
};

constexpr size_t kValueCapacity = 512;

}  // namespace

const LanguageTables::MenuKey LanguageTables::kDropDownMenus[5] = {
    {L"IDS_MENU_LANGUAGE", L"&Language"},
    {L"IDS_MENU_HELP", L"&Help"},
    {L"IDS_MENU_START", L"Start"},
    {L"IDS_MENU_EDIT", L"Param(&M)"},
    {L"IDS_MENU_VIEW", L"&View"},
};

std::wstring PickVariant(const std::wstring& text, int languageIndex)
{
    if (text.find(L',') == std::wstring::npos) return text;
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(L',', start);
        parts.push_back(text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start));
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    if (languageIndex >= 0 && static_cast<size_t>(languageIndex) < parts.size())
        return parts[static_cast<size_t>(languageIndex)];
    return parts.front();
}

LanguageTables::LanguageTables(std::wstring programFolder) : programFolder_(std::move(programFolder)) {}

std::wstring LanguageTables::SettingFile() const
{
    return JoinPath(WritableFolder(programFolder_), L"Language/setting.ini");
}

std::wstring LanguageTables::LanguageFile(const std::wstring& language) const
{
    return JoinPath(programFolder_, L"Language/" + language + L".ini");
}

std::wstring LanguageTables::TextWorkbook() const
{
    return JoinPath(programFolder_, L"Language/language.xls");
}

void LanguageTables::Start()
{
    current_ = PrivateProfileGetString(L"Setting", L"Language", L"", SettingFile(), kValueCapacity);
    for (const MenuKey& m : kDropDownMenus) textToKey_[m.defaultText] = m.key;
    LoadTexts();
}

bool LanguageTables::SetLanguage(const std::wstring& name)
{
    if (name == current_) return false;
    previous_ = current_;
    // The shell reloads its bars with the resource captions before it
    // translates them, but a bar may also still show the outgoing language's
    // captions: both must lead to their key. The resource captions win where a
    // translated caption happens to equal another menu's resource caption.
    std::map<std::wstring, std::wstring> matching;
    for (const MenuKey& m : kDropDownMenus) matching[m.defaultText] = m.key;
    for (const auto& [text, key] : textToKey_) matching.emplace(text, key);
    for (const auto& [key, text] : keyToText_) matching.emplace(text, key);
    textToKey_ = std::move(matching);

    keyToText_.clear();
    current_ = name;
    // A failed write only costs the choice at the next start; the switch in
    // this run goes ahead.
    PrivateProfileWriteString(L"Setting", L"Language", name, SettingFile());
    LoadTexts();
    return true;
}

void LanguageTables::LoadTexts()
{
    const std::wstring iniFile = LanguageFile(current_);
    // Reset first so that a language other than the two leaves no stale check.
    currentCommand_ = 0;
    for (const CommandKey& c : kCommands) {
        commandCaptions_[c.command] =
            PrivateProfileGetString(L"MENU", c.key, c.defaultText, iniFile, kValueCapacity);
        if (current_ == c.defaultText) currentCommand_ = c.command;
    }
    for (const MenuKey& m : kDropDownMenus) {
        const std::wstring text = PrivateProfileGetString(L"MENU", m.key, m.defaultText, iniFile, kValueCapacity);
        keyToText_[m.key] = text;
        textToKey_.emplace(text, m.key);
    }
    languageIndex_ = current_ == L"Chinese" ? 1 : 0;
    LoadControlTexts();
}

void LanguageTables::LoadControlTexts()
{
    cells::BookHandle book;
    if (!book || !book->load(TextWorkbook().c_str())) return;
    xls::Sheet* sheet = book->getSheet(0);
    if (!sheet) return;
    controlTexts_.clear();
    const int column = 2 + languageIndex_;
    for (int row = 1; row <= kLastTextRow; ++row) {
        const std::wstring text = cells::Text(sheet, row, column);
        if (text.empty()) break;
        controlTexts_[cells::IntOf(sheet, row, 0)] = text;
    }
}

std::wstring LanguageTables::ControlText(int id) const
{
    const auto it = controlTexts_.find(id);
    return it == controlTexts_.end() ? std::wstring() : it->second;
}

std::wstring LanguageTables::MenuCaption(const std::wstring& shownCaption) const
{
    const auto key = textToKey_.find(shownCaption);
    if (key == textToKey_.end()) return std::wstring();
    const auto text = keyToText_.find(key->second);
    return text == keyToText_.end() ? std::wstring() : text->second;
}

std::wstring LanguageTables::CommandCaption(int command) const
{
    const auto it = commandCaptions_.find(command);
    return it == commandCaptions_.end() ? std::wstring() : it->second;
}

LanguageTables& TheLanguageTables()
{
    static LanguageTables tables;
    return tables;
}
