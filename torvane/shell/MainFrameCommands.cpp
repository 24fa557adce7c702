#include "MainFrameCommands.h"

#include "ProgramFolder.h"

#include <QRegularExpression>

#include <QFileInfo>

const char* const kStandardToolBar = "Standard";
const char* const kMenuBarName = "Menu Bar";
const char* const kDevicePaneTitle = "Device View";
const char* const kOpenDataFilter = "VKR DB(*.xls)";
const char* const kProfileCommandBars = "CommandBars";

std::vector<CMenuEntry> MainMenuDefinition()
{
    using E = CMenuEntry;
    auto t = [](const char* s) { return QString::fromUtf8(s); };
    return {
        E::Popup(t("Start"),
                 {E::Command(ID_EDIT_SERIAL, t("Edit Serial Port (&E)")), E::Separator(),
                  E::Command(ID_CONNECT, t("Connect Serial Port (&C)\tCtrl+C")),
                  E::Command(ID_DISCONNECT, t("Disconnect(&D)\tCtrl+D")), E::Separator(),
                  E::Command(ID_APP_EXIT, t("Exit(&X)\tCtrl+Q"))}),
        E::Popup(t("Param(&M)"),
                 {E::Command(ID_OPEN_DATA, t("Open Data(&O)")), E::Command(ID_EDIT_PARAM, t("Edit Param(&T)"))}),
        E::Popup(t("&View"), {E::Command(ID_VIEW_DEVICE, t("Device View"))}),
        E::Popup(t("&Language"),
                 {E::Command(ID_LANGUAGE_CHINESE, t("Chinese")), E::Command(ID_LANGUAGE_ENGLISH, t("English"))}),
        E::Popup(t("&Help"),
                 {E::Command(ID_APP_ABOUT, t("&About Torvane...")), E::Command(ID_USER_GUIDE, t("User Guideline"))}),
    };
}

std::vector<int> StandardToolBarIds()
{
    return {ID_EDIT_SERIAL, ID_CONNECT, ID_DISCONNECT, 0, ID_OPEN_DATA, ID_LANGUAGE_CHINESE, ID_LANGUAGE_ENGLISH,
            0, ID_APP_ABOUT};
}

bool CommandEnabled(int id, bool normalConnected, bool bootConnected)
{
    switch (id) {
    case ID_CONNECT: return !normalConnected && !bootConnected;
    case ID_DISCONNECT: return normalConnected || bootConnected;
    case ID_EDIT_PARAM: return false;
    default: return true;
    }
}

QString LayoutFilePathFor(const QString& programPath)
{
    if (programPath.isEmpty()) return QString();
    const QFileInfo info(programPath);
    const QString name = info.fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file, not an extension.
    if (dot <= 0) return programPath + QStringLiteral(".xml");
    return programPath.left(programPath.size() - (name.size() - dot)) + QStringLiteral(".xml");
}

QString ProgramLayoutFilePath(const QString& programPath)
{
    const QString beside = LayoutFilePathFor(programPath);
    if (beside.isEmpty()) return beside;
    const QFileInfo info(beside);
    const std::wstring folder = WritableFolder(info.absolutePath().toStdWString() + L"/");
    return QString::fromStdWString(JoinPath(folder, info.fileName().toStdWString()));
}

QString OpenDataFilter()
{
    // The pattern in the parentheses is what the dialog matches ("*.xls").
    return QString::fromLatin1(kOpenDataFilter);
}

QString PlainCommandText(const QString& caption)
{
    QString text = caption;
    // "(&X)" after the words, with the space before it.
    static const QRegularExpression group(QStringLiteral("\\s*\\(&[^&)]\\)"));
    text.remove(group);
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) out += text[++i];
            continue;
        }
        out += text[i];
    }
    return out;
}
