#include "LayoutFile.h"

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

// A layout file is small; anything far larger is not one of ours.
constexpr qint64 kMaxLayoutBytes = 4 * 1024 * 1024;

QString JoinIds(const std::vector<int>& ids)
{
    QStringList parts;
    for (int id : ids) parts << QString::number(id);
    return parts.join(QLatin1Char(','));
}

bool SplitIds(const QString& text, std::vector<int>* ids)
{
    ids->clear();
    if (text.trimmed().isEmpty()) return true;
    for (const QString& part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int id = part.trimmed().toInt(&ok);
        if (!ok || id < 0) return false;
        ids->push_back(id);
    }
    return true;
}

bool DecodeBase64(QStringView text, QByteArray* out)
{
    const auto r = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!r) return false;
    *out = *r;
    return true;
}

bool ParseFlag(QStringView text, bool* out)
{
    if (text == QLatin1String("1")) *out = true;
    else if (text == QLatin1String("0")) *out = false;
    else return false;
    return true;
}

}  // namespace

bool WriteLayoutFile(const QString& path, const LayoutData& layout)
{
    if (path.isEmpty()) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("Settings"));

    xml.writeStartElement(QStringLiteral("TaskPanel"));
    for (const QString& item : layout.taskPanelItems) {
        xml.writeStartElement(QStringLiteral("Item"));
        xml.writeAttribute(QStringLiteral("Caption"), item);
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("NormalLayout"));
    xml.writeStartElement(QStringLiteral("CommandBars"));
    for (const LayoutToolBar& bar : layout.toolBars) {
        xml.writeStartElement(QStringLiteral("ToolBar"));
        xml.writeAttribute(QStringLiteral("Name"), bar.name);
        xml.writeAttribute(QStringLiteral("Visible"), bar.visible ? QStringLiteral("1") : QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("Buttons"), JoinIds(bar.buttons));
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("Shortcuts"));
    for (const auto& [id, keys] : layout.shortcuts) {
        xml.writeStartElement(QStringLiteral("Shortcut"));
        xml.writeAttribute(QStringLiteral("Id"), QString::number(id));
        xml.writeAttribute(QStringLiteral("Keys"), keys);
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("Options"));
    xml.writeAttribute(QStringLiteral("LargeIcons"), layout.largeIcons ? QStringLiteral("1") : QStringLiteral("0"));
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("DockingPane"));
    xml.writeAttribute(QStringLiteral("State"), QString::fromLatin1(layout.windowState.toBase64()));
    xml.writeAttribute(QStringLiteral("Geometry"), QString::fromLatin1(layout.geometry.toBase64()));
    xml.writeEndElement();
    xml.writeEndElement();  // NormalLayout

    xml.writeEndElement();  // Settings
    xml.writeEndDocument();
    if (xml.hasError()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool ReadLayoutFile(const QString& path, LayoutData* layout)
{
    if (path.isEmpty() || !layout) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    if (file.size() > kMaxLayoutBytes) return false;

    LayoutData read;
    bool sawSettings = false;
    bool sawNormalLayout = false;
    QStringList open;  // element names from the root down to the current one
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (!open.isEmpty()) open.removeLast();
            continue;
        }
        if (token != QXmlStreamReader::StartElement) continue;
        const QString name = xml.name().toString();
        const QXmlStreamAttributes a = xml.attributes();
        const QString parent = open.isEmpty() ? QString() : open.last();
        if (open.isEmpty()) {
            if (name != QLatin1String("Settings") || sawSettings) return false;
            sawSettings = true;
        } else if (parent == QLatin1String("TaskPanel") && name == QLatin1String("Item")) {
            read.taskPanelItems << a.value(QLatin1String("Caption")).toString();
        } else if (parent == QLatin1String("Settings") && name == QLatin1String("NormalLayout")) {
            sawNormalLayout = true;
        } else if (parent == QLatin1String("CommandBars") && name == QLatin1String("ToolBar")) {
            LayoutToolBar bar;
            bar.name = a.value(QLatin1String("Name")).toString();
            if (bar.name.isEmpty()) return false;
            if (a.hasAttribute(QLatin1String("Visible")) && !ParseFlag(a.value(QLatin1String("Visible")), &bar.visible))
                return false;
            if (!SplitIds(a.value(QLatin1String("Buttons")).toString(), &bar.buttons)) return false;
            read.toolBars.push_back(std::move(bar));
        } else if (parent == QLatin1String("Shortcuts") && name == QLatin1String("Shortcut")) {
            bool ok = false;
            const int id = a.value(QLatin1String("Id")).toInt(&ok);
            if (!ok || id <= 0) return false;
            read.shortcuts[id] = a.value(QLatin1String("Keys")).toString();
        } else if (parent == QLatin1String("NormalLayout") && name == QLatin1String("Options")) {
            if (a.hasAttribute(QLatin1String("LargeIcons")) &&
                !ParseFlag(a.value(QLatin1String("LargeIcons")), &read.largeIcons))
                return false;
        } else if (parent == QLatin1String("NormalLayout") && name == QLatin1String("DockingPane")) {
            if (!DecodeBase64(a.value(QLatin1String("State")), &read.windowState)) return false;
            if (!DecodeBase64(a.value(QLatin1String("Geometry")), &read.geometry)) return false;
        }
        // Anything else is left for later versions and passed over.
        open << name;
    }
    if (xml.hasError() || !sawSettings || !sawNormalLayout) return false;
    *layout = std::move(read);
    return true;
}
