#include "room/Difference.h"

#include "model/Layout.h"
#include <QJsonDocument>
#include "model/Shown.h"

namespace zev {
namespace {

void side(JsonWriter &out, const char *name, const RegisterRow &row, std::uint8_t value)
{
    out.key(name).object().field("value", value).field("shown", shownValue(row, value)).end();
}

} // namespace

std::vector<std::uint8_t> differingRegisters(const RegisterImage &a, const RegisterImage &b)
{
    std::vector<std::uint8_t> addresses;
    for (const RegisterRow &row : registerMap())
        if (a[row.address] != b[row.address]) addresses.push_back(row.address);
    return addresses;
}

void writeDifferenceMembers(JsonWriter &out, std::uint8_t address, std::uint8_t a, std::uint8_t b)
{
    const RegisterRow &row = *findRegister(address);
    out.field("address", address)
        .field("name", machineName(row))
        .field("title", nameForPeople(address))
        .field("english", nameForPeople(address, Language::English));
    side(out, "a", row, a);
    side(out, "b", row, b);
}

void writeDifference(JsonWriter &out, std::uint8_t address, std::uint8_t a, std::uint8_t b)
{
    out.object();
    writeDifferenceMembers(out, address, a, b);
    out.end();
}

QJsonObject differenceJson(std::uint8_t address, std::uint8_t a, std::uint8_t b)
{
    JsonWriter out;
    writeDifference(out, address, a, b);
    return QJsonDocument::fromJson(QByteArray::fromStdString(out.text())).object();
}

QJsonArray differencesJson(const std::vector<std::uint8_t> &addresses, const RegisterImage &a,
                           const RegisterImage &b)
{
    QJsonArray list;
    for (std::uint8_t address : addresses)
        list.append(differenceJson(address, a[address], b[address]));
    return list;
}

QString differenceText(std::uint8_t address, std::uint8_t a, std::uint8_t b, const QString &sideA,
                       const QString &sideB, Language language)
{
    const RegisterRow &row = *findRegister(address);
    return QString("%1: %2 %3, %4 %5")
        .arg(QString::fromStdString(nameForPeople(address, language)), sideA,
             QString::fromStdString(inLanguage(shownValue(row, a), language)), sideB,
             QString::fromStdString(inLanguage(shownValue(row, b), language)));
}

QString processorSide(Language language)
{
    return language == Language::English ? "unit" : kProcessorSide;
}

} // namespace zev
