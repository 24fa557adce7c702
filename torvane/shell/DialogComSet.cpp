#include "DialogComSet.h"

#include "ConnectionSettings.h"
#include "ControlIds.h"
#include "DeviceConnection.h"
#include "LanguageTables.h"
#include "PrivateProfile.h"
#include "CCOM.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

CDialogComSet::CDialogComSet(LanguageTables* language, QWidget* parent) : QDialog(parent), language_(language)
{
    setWindowTitle(QString::fromWCharArray(L"\u4e32\u53e3\u8bbe\u7f6e"));
    SetCtrlId(this, IDD);
    auto* form = new QFormLayout;
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(form);
    setLayout(outer);
    auto row = [&](int comboId, int labelId, const wchar_t* label) {
        auto* l = new QLabel(QString::fromWCharArray(label), this);
        SetCtrlId(l, labelId);
        auto* c = new QComboBox(this);
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        SetCtrlId(c, comboId);
        l->setBuddy(c);
        form->addRow(l, c);
    };
    row(IDC_PORT, IDC_PORT_LABEL, L"\u901a\u4fe1\u7aef\u53e3");
    row(IDC_BAUD, IDC_BAUD_LABEL, L"\u6ce2\u7279\u7387");
    row(IDC_DATABITS, IDC_DATABITS_LABEL, L"\u5b57\u957f\u5ea6");
    row(IDC_PARITY, IDC_PARITY_LABEL, L"\u5947\u5076\u6821\u9a8c");
    row(IDC_STATION, IDC_STATION_LABEL, L"\u7ad9\u7f16\u53f7");
    row(IDC_TIMEOUT, IDC_TIMEOUT_LABEL, L"\u8d85\u65f6\u65f6\u95f4");
    row(IDC_CMDGAP, IDC_CMDGAP_LABEL, L"\u547d\u4ee4\u95f4\u9694");
    // Over a network port the serial parameters belong to the device server
    // or gateway: they are greyed and this line says so.
    auto* note = new QLabel(this);
    note->setWordWrap(true);
    note->setVisible(false);
    SetCtrlId(note, IDC_NET_NOTE);
    form->addRow(note);
    connect(combo(IDC_PORT), &QComboBox::editTextChanged, this, [this](const QString& t) { ShowPortKind(t); });
    // Replies are taken as soon as they arrive instead of at the next 20 ms
    // poll of the port.
    auto* fast = new QCheckBox(QString::fromWCharArray(L"\u5feb\u901f\u94fe\u8def"), this);
    SetCtrlId(fast, IDC_FASTLINK);
    form->addRow(fast);
    // A port that vanished (adapter pulled) is connected again by itself
    // when it comes back, instead of the program asking first.
    auto* reconnect = new QCheckBox(QString::fromWCharArray(L"\u7aef\u53e3\u6062\u590d\u540e\u81ea\u52a8\u91cd\u8fde"), this);
    SetCtrlId(reconnect, IDC_AUTORECONNECT);
    form->addRow(reconnect);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString::fromWCharArray(L"\u786e\u5b9a"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QString::fromWCharArray(L"\u53d6\u6d88"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    SetCtrlId(ok, IDOK_);
    SetCtrlId(cancel, IDCANCEL_);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(buttons);
}

QComboBox* CDialogComSet::combo(int id) const
{
    return FindCtrlAs<QComboBox>(this, id);
}

QCheckBox* CDialogComSet::fastLinkBox() const
{
    return FindCtrlAs<QCheckBox>(this, IDC_FASTLINK);
}

QCheckBox* CDialogComSet::autoReconnectBox() const
{
    return FindCtrlAs<QCheckBox>(this, IDC_AUTORECONNECT);
}

void CDialogComSet::showEvent(QShowEvent* event)
{
    if (!initialised_) OnInitDialog();
    QDialog::showEvent(event);
}

void CDialogComSet::OnInitDialog()
{
    initialised_ = true;
    auto fill = [&](int id, const QStringList& items) {
        QComboBox* c = combo(id);
        c->clear();
        c->addItems(items);
    };
    auto numbers = [](std::initializer_list<int> list) {
        QStringList out;
        for (int n : list) out << QString::number(n);
        return out;
    };
    fill(IDC_BAUD, numbers({2400, 4800, 9600, 19200, 38400, 57600, 115200}));
    QStringList stations;
    for (int i = 1; i <= 252; ++i) stations << QString::number(i);
    fill(IDC_STATION, stations);

    // A port in use by another program cannot be opened and is left out; it
    // can still be typed. The port this program holds is listed: the user
    // may well keep it.
    probedPorts_.clear();
    // A network port is listed as mapped: a probe would connect to it.
    for (int port = 1; port <= 16; ++port)
        if (LinkCorePortKind(port) != LINK_PORT_SERIAL)
            probedPorts_ << PortEntryText(port);
        else if (port == heldPort || DeviceConnection::PortCanOpen(port))
            probedPorts_ << QStringLiteral("COM%1").arg(port);
    fill(IDC_PORT, probedPorts_);

    fill(IDC_DATABITS, {QStringLiteral("7"), QStringLiteral("8")});
    combo(IDC_DATABITS)->setCurrentIndex(1);
    fill(IDC_PARITY, {QString::fromWCharArray(L"0,NONE,\u65e0"), QString::fromWCharArray(L"1,ODD,\u5947"),
                      QString::fromWCharArray(L"2,EVEN,\u5076")});
    fill(IDC_TIMEOUT, numbers({100, 200, 500, 1000, 2000, 5000, 10000}));
    fill(IDC_CMDGAP, numbers({100, 200, 300, 400, 500, 600, 800, 1000, 2000, 5000}));

    if (language_ && !language_->controlTexts().empty()) ApplyCtrlTexts(this, language_->controlTexts());

    combo(IDC_PORT)->setEditText(port);
    combo(IDC_BAUD)->setEditText(baud);
    combo(IDC_DATABITS)->setEditText(dataBits);
    combo(IDC_PARITY)->setEditText(parity);
    combo(IDC_STATION)->setEditText(station);
    combo(IDC_TIMEOUT)->setEditText(timeOut);
    combo(IDC_CMDGAP)->setEditText(cmdGap);
    fastLinkBox()->setChecked(fastLink);
    autoReconnectBox()->setChecked(autoReconnect);
    ShowPortKind(port);
}

void CDialogComSet::ShowPortKind(const QString& portText)
{
    const QString note = NetworkNote(portText);
    for (int id : {IDC_BAUD, IDC_DATABITS, IDC_PARITY}) combo(id)->setEnabled(note.isEmpty());
    auto* label = FindCtrlAs<QLabel>(this, IDC_NET_NOTE);
    label->setText(note);
    label->setVisible(!note.isEmpty());
}

QString CDialogComSet::PortEntryText(int port)
{
    const QString name = QStringLiteral("COM%1").arg(port);
    if (LinkCorePortKind(port) == LINK_PORT_SERIAL) return name;
    return name + QLatin1Char(' ') + QString::fromStdString(LinkCoreSerialDevice(port));
}

QString CDialogComSet::NetworkNote(const QString& portText)
{
    // A list entry carries the network text after the port; a typed "COM3"
    // is looked up in the mapping.
    const int space = portText.indexOf(QLatin1Char(' '));
    int kind = space > 0 ? LinkCoreParsePort(portText.mid(space + 1).trimmed().toStdString(), nullptr, nullptr)
                         : LINK_PORT_SERIAL;
    bool isNumber = false;
    const int port = PortNumberText(portText).toInt(&isNumber);
    if (kind == LINK_PORT_SERIAL && isNumber && port >= 1 && port <= 16) kind = LinkCorePortKind(port);
    if (kind == LINK_PORT_TCP)
        return QStringLiteral("Network port (serial device server): baud rate, data bits and parity do not apply "
                              "here; they are set in the device server.");
    if (kind == LINK_PORT_MBTCP)
        return QStringLiteral("Modbus TCP gateway: baud rate, data bits and parity do not apply here; the station "
                              "is the unit identifier. No downloads through a gateway.");
    if (kind == LINK_PORT_BAD)
        return QStringLiteral("This port maps to a network port text that cannot be used (write tcp://HOST:PORT "
                              "or mbtcp://HOST:PORT).");
    return QString();
}

void CDialogComSet::accept()
{
    port = combo(IDC_PORT)->currentText();
    baud = combo(IDC_BAUD)->currentText();
    dataBits = combo(IDC_DATABITS)->currentText();
    parity = combo(IDC_PARITY)->currentText();
    station = combo(IDC_STATION)->currentText();
    timeOut = combo(IDC_TIMEOUT)->currentText();
    cmdGap = combo(IDC_CMDGAP)->currentText();
    fastLink = fastLinkBox()->isChecked();
    autoReconnect = autoReconnectBox()->isChecked();
    QDialog::accept();
}

QString CDialogComSet::PortNumberText(const QString& portText)
{
    // "COM3 tcp://...": the number before the network text.
    const int space = portText.indexOf(QLatin1Char(' '));
    if (space > 3 && portText.startsWith(QLatin1String("COM"))) {
        bool number = false;
        portText.mid(3, space - 3).toInt(&number);
        if (number) return portText.mid(3, space - 3);
    }
    auto strip = [](QChar c) { return c == QLatin1Char('C') || c == QLatin1Char('O') || c == QLatin1Char('M'); };
    int b = 0, e = portText.size();
    while (b < e && strip(portText[b])) ++b;
    while (e > b && strip(portText[e - 1])) --e;
    return portText.mid(b, e - b);
}

void LoadDialogFromSettings(CDialogComSet& dlg, const ConnectionSettings& s)
{
    dlg.baud = QString::fromStdWString(s.bautRate);
    dlg.station = QString::fromStdWString(s.devAddr);
    // A network port shows its text beside the number.
    bool number = false;
    const int n = QString::fromStdWString(s.COMID).toInt(&number);
    dlg.port = number && n >= 1 && n <= 16 && LinkCorePortKind(n) != LINK_PORT_SERIAL
                   ? CDialogComSet::PortEntryText(n)
                   : QStringLiteral("COM") + QString::fromStdWString(s.COMID);
    dlg.dataBits = QString::fromStdWString(s.DataBit);
    dlg.parity = QString::fromStdWString(s.Parity);
    dlg.timeOut = QString::fromStdWString(s.OutTime);
    dlg.cmdGap = QString::fromStdWString(s.CmdBay);
    dlg.fastLink = s.FastLinkOn();
    dlg.autoReconnect = s.AutoReconnectOn();
}

bool StoreDialogResult(const CDialogComSet& dlg, bool ok, ConnectionSettings& settings)
{
    bool written = true;
    if (ok) {
        const std::wstring path = settings.ConfigPath();
        const wchar_t* section = ConnectionSettings::kSection;
        auto put = [&](const wchar_t* key, const QString& value) {
            written = PrivateProfileWriteString(section, key, value.toStdWString(), path) && written;
        };
        put(L"COMID", CDialogComSet::PortNumberText(dlg.port));
        put(L"bautRate", dlg.baud);
        put(L"Parity", dlg.parity);
        put(L"devAddr", dlg.station);
        put(L"OutTime", dlg.timeOut);
        put(L"CmdBay", dlg.cmdGap);
        const bool known = dlg.dataBits == QLatin1String("8") || dlg.dataBits == QLatin1String("7");
        put(L"DataBit", known ? dlg.dataBits : QStringLiteral("8"));
        // A file that never had the key keeps none while the box stays clear.
        if (dlg.fastLink || !settings.FastLink.empty())
            put(ConnectionSettings::kFastLink, dlg.fastLink ? QStringLiteral("1") : QStringLiteral("0"));
        if (dlg.autoReconnect || !settings.AutoReconnect.empty())
            put(ConnectionSettings::kAutoReconnect, dlg.autoReconnect ? QStringLiteral("1") : QStringLiteral("0"));
    }
    settings.Load();
    return written;
}

void EditSerialSettings(ConnectionSettings& settings, LanguageTables* language, QWidget* parent, int heldPort)
{
    CDialogComSet dlg(language, parent);
    dlg.heldPort = heldPort;
    LoadDialogFromSettings(dlg, settings);
    const bool ok = dlg.exec() == QDialog::Accepted;
    if (!StoreDialogResult(dlg, ok, settings))
        QMessageBox::warning(parent, QStringLiteral("Torvane"),
                             QStringLiteral("The serial settings could not be written to %1.")
                                 .arg(QString::fromStdWString(settings.ConfigPath())));
}
