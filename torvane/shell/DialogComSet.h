// The serial settings dialog: port, baud rate, station, data bits, parity,
// reply time-out and command gap, each an editable drop-down list (a list
// entry or any typed text), and the fast register link check box. OK writes the settings to "config.ini"; OK and
// Cancel both reload the application's settings from the file.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class ConnectionSettings;
class LanguageTables;
class QCheckBox;
class QComboBox;

class CDialogComSet : public QDialog {
    Q_OBJECT
public:
    enum {
        IDD = 148,
        IDC_PORT = 1070,
        IDC_BAUD = 1074,
        IDC_DATABITS = 1077,
        IDC_PARITY = 1079,
        IDC_STATION = 1075,
        IDC_TIMEOUT = 1076,
        IDC_CMDGAP = 1078,
        IDC_PORT_LABEL = 2010,
        IDC_BAUD_LABEL = 2011,
        IDC_DATABITS_LABEL = 2012,
        IDC_PARITY_LABEL = 2013,
        IDC_STATION_LABEL = 2014,
        IDC_TIMEOUT_LABEL = 2015,
        IDC_CMDGAP_LABEL = 2016,
        IDC_FASTLINK = 2017,
        IDC_NET_NOTE = 2018,
        IDC_AUTORECONNECT = 2019,
        IDOK_ = 1,
        IDCANCEL_ = 2,
    };

    // language may be null (the template's texts stay).
    explicit CDialogComSet(LanguageTables* language = nullptr, QWidget* parent = nullptr);

    // Members: what the controls show when the dialog opens and what they
    // held when the user pressed OK.
    QString port = QStringLiteral("COM1");
    QString baud = QStringLiteral("9600");
    QString dataBits = QStringLiteral("8");
    QString parity = QString::fromWCharArray(L"0,NONE,\u65e0");
    QString station = QStringLiteral("1");
    QString timeOut = QStringLiteral("1000");
    QString cmdGap = QStringLiteral("200");
    bool fastLink = false;
    bool autoReconnect = false;
    // The port the program's own open link holds (0: none). No probe can
    // open it, so it is listed without one.
    int heldPort = 0;

    // Fills the lists (the port list by probing COM1 to COM16), applies the
    // language texts and shows the members. Runs when the dialog is first
    // shown; calling it again refreshes the lists.
    void OnInitDialog();

    QComboBox* combo(int id) const;
    QCheckBox* fastLinkBox() const;
    QCheckBox* autoReconnectBox() const;
    // "COM%d" of every port that could be opened when the dialog opened, and
    // the held port.
    QStringList ProbedPorts() const { return probedPorts_; }

    // "COM5" -> "5": the characters C, O and M removed from both ends. A
    // list entry of a network port ("COM3 tcp://10.0.0.5:4001") gives its
    // number ("3").
    static QString PortNumberText(const QString& portText);
    // How the port list shows port n: "COM3", or "COM3 tcp://10.0.0.5:4001"
    // when it maps to a network port.
    static QString PortEntryText(int port);
    // The note under the port when the port text names a network port (the
    // serial parameters do not apply), else empty.
    static QString NetworkNote(const QString& portText);

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QComboBox* AddRow(int comboId, int labelId, const QString& label);
    void ShowPortKind(const QString& portText);
    bool initialised_ = false;
    LanguageTables* language_;
    QStringList probedPorts_;
};

// Copies the settings into the dialog's members.
void LoadDialogFromSettings(CDialogComSet& dlg, const ConnectionSettings& settings);
// OK: writes section "COM" of the settings' config.ini in the order COMID,
// bautRate, Parity, devAddr, OutTime, CmdBay, DataBit, and FastLink when the
// box is checked or the file has the key already. Then, OK or not,
// reloads the settings from the file. False when a write failed.
bool StoreDialogResult(const CDialogComSet& dlg, bool ok, ConnectionSettings& settings);
// The whole command: dialog filled from the settings, run modally, stored.
// heldPort: the port the program's open link holds, listed without a probe.
void EditSerialSettings(ConnectionSettings& settings, LanguageTables* language, QWidget* parent,
                        int heldPort = 0);
