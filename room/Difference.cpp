#include "room/Difference.h"

#include "model/Layout.h"
#include "model/Shown.h"

namespace zev {
namespace {

QJsonObject side(const RegisterRow &row, std::uint8_t value)
{
    return {{"value", value}, {"shown", QString::fromStdString(shownValue(row, value))}};
}

} // namespace

std::vector<std::uint8_t> differingRegisters(const RegisterImage &a, const RegisterImage &b)
{
    std::vector<std::uint8_t> addresses;
    for (const RegisterRow &row : registerMap())
        if (a[row.address] != b[row.address]) addresses.push_back(row.address);
    return addresses;
}

QJsonObject differenceJson(std::uint8_t address, std::uint8_t a, std::uint8_t b)
{
    const RegisterRow &row = *findRegister(address);
    return {{"address", address},
            {"name", QString::fromStdString(machineName(row))},
            {"title", QString::fromStdString(nameForPeople(address))},
            {"english", QString::fromStdString(nameForPeople(address, Language::English))},
            {"a", side(row, a)},
            {"b", side(row, b)}};
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
