#include "Json.h"

#include "Ctl.h"
#include "model/Shown.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <set>

namespace ctl {
namespace {

constexpr const char *kFormat = "zev720-parameters";
constexpr int kVersion = 1;
constexpr int kSlotHexDigits = 512;

bool inTransferSet(int address)
{
    return zev::findRegister(std::uint8_t(address)) != nullptr;
}

// The line of the first place where `needle` stands in the text, for messages.
int lineOf(const QByteArray &text, const QByteArray &needle, qsizetype from = 0)
{
    const qsizetype at = needle.isEmpty() ? from : text.indexOf(needle, from);
    return int(text.left(at < 0 ? 0 : at).count('\n')) + 1;
}

} // namespace

QByteArray parametersToJson(const zev::ParameterModel &model)
{
    QJsonArray registers;
    for (const zev::RegisterRow &row : zev::registerMap()) {
        const zev::Placement where = zev::placementOf(row.address);
        const std::uint8_t value = model.image[row.address];
        registers.append(QJsonObject{
            {"name", QString::fromStdString(zev::machineName(row))},
            {"address", row.address},
            {"page", QString::fromUtf8(where.page)},
            {"group", QString::fromUtf8(where.group)},
            {"caption", QString::fromUtf8(row.caption).replace('\n', ' ')},
            {"value", value},
            {"shown", QString::fromStdString(zev::shownValue(row, value))},
        });
    }
    QJsonObject other;
    for (int a = 0; a < 256; ++a)
        if (!inTransferSet(a) && model.image[a] != 0) other[QString::number(a)] = model.image[a];
    QJsonArray slotArray;
    for (const zev::RegisterImage &slot : model.modeSlots)
        slotArray.append(QString::fromLatin1(
            QByteArray(reinterpret_cast<const char *>(slot.data()), 256).toHex()));
    const QJsonObject root{{"format", kFormat},
                           {"version", kVersion},
                           {"registers", registers},
                           {"otherBytes", other},
                           {"slots", slotArray}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

zev::ParameterModel parametersFromJson(const QByteArray &text, const QString &fileName)
{
    auto refuse = [&](int line, const QString &what) {
        throw Failure(kFileFailed, QString("%1:%2: %3").arg(fileName).arg(line).arg(what));
    };
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError)
        refuse(lineOf(text, {}, parse.offset), parse.errorString());
    const QJsonObject root = document.object();
    if (root.value("format").toString() != kFormat || root.value("version").toInt() != kVersion)
        refuse(1, QString("not a %1 version %2 document").arg(kFormat).arg(kVersion));

    zev::ParameterModel model;
    std::set<int> seen;
    qsizetype searchFrom = 0;
    for (const QJsonValue &entry : root.value("registers").toArray()) {
        const QJsonObject item = entry.toObject();
        const QString name = item.value("name").toString();
        const int line = lineOf(
            text, name.isEmpty() ? QByteArray("\"registers\"") : ("\"" + name.toUtf8() + "\""),
            searchFrom);
        searchFrom = text.indexOf(name.toUtf8(), searchFrom) + 1;
        const zev::RegisterRow *row =
            name.isEmpty() ? (item.contains("address")
                                  ? zev::findRegister(std::uint8_t(item.value("address").toInt(-1)))
                                  : nullptr)
                           : zev::findRegisterByName(name.toStdString());
        if (!row || (item.contains("address") && item.value("address").toInt(-1) != row->address))
            refuse(line,
                   QString("unknown register '%1'")
                       .arg(name.isEmpty() ? item.value("address").toVariant().toString() : name));
        const QString label = QString::fromStdString(zev::machineName(*row));
        if (!seen.insert(row->address).second) refuse(line, label + ": given twice");
        if (item.contains("value")) {
            const QJsonValue value = item.value("value");
            const double number = value.toDouble(-1);
            if (!value.isDouble() || number != int(number) || number < 0 || number > 255)
                refuse(line, QString("%1: value %2 is not a byte (0 to 255)")
                                 .arg(label, value.toVariant().toString()));
            model.image[row->address] = std::uint8_t(number);
        } else {
            const QString shown = item.value("shown").toString();
            const auto value = zev::valueShowing(*row, shown.toStdString());
            if (!value)
                refuse(line, QString("%1: '%2' is no value of this control").arg(label, shown));
            model.image[row->address] = *value;
        }
    }
    QStringList missing;
    for (const zev::RegisterRow &row : zev::registerMap())
        if (!seen.count(row.address)) missing << QString::fromStdString(zev::machineName(row));
    if (!missing.isEmpty())
        refuse(lineOf(text, "\"registers\""), "registers missing: " + missing.join(", "));
    const QJsonObject other = root.value("otherBytes").toObject();
    for (auto it = other.begin(); it != other.end(); ++it) {
        bool ok = false;
        const int address = it.key().toInt(&ok);
        const int line =
            lineOf(text, "\"" + it.key().toUtf8() + "\"", text.indexOf("\"otherBytes\""));
        const double value = it.value().toDouble(-1);
        if (!ok || address < 0 || address > 255 || inTransferSet(address))
            refuse(line,
                   QString("otherBytes: '%1' is no address outside the settings").arg(it.key()));
        if (value != int(value) || value < 0 || value > 255)
            refuse(line, QString("otherBytes %1: not a byte (0 to 255)").arg(it.key()));
        model.image[address] = std::uint8_t(value);
    }
    const QJsonArray slotArray = root.value("slots").toArray();
    const int slotsLine = lineOf(text, "\"slots\"");
    if (slotArray.size() != zev::kSlotCount)
        refuse(slotsLine,
               QString("slots: %1 given, %2 needed").arg(slotArray.size()).arg(zev::kSlotCount));
    for (int slot = 0; slot < zev::kSlotCount; ++slot) {
        const QByteArray hex = slotArray[slot].toString().toLatin1();
        const QByteArray bytes = QByteArray::fromHex(hex);
        if (hex.size() != kSlotHexDigits || bytes.size() != 256 || bytes.toHex() != hex.toLower())
            refuse(slotsLine + 1 + slot, QString("slot %1: not 512 hex digits").arg(slot));
        std::copy(bytes.begin(), bytes.end(), model.modeSlots[std::size_t(slot)].begin());
    }
    return model;
}

} // namespace ctl
