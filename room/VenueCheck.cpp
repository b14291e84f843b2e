#include "room/VenueCheck.h"

#include "room/RoomLine.h"
#include "wire/NetworkAddress.h"
#include "link/PortDevices.h"

#include <QFileInfo>
#include <QString>
#include <map>

namespace zev {
namespace {

bool isNumber(const std::string &text)
{
    return !text.empty() && text.size() < 10 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

std::string lookAlikeKey(const std::string &name)
{
    return QString::fromStdString(name)
        .normalized(QString::NormalizationForm_C)
        .toCaseFolded()
        .normalized(QString::NormalizationForm_C)
        .toStdString();
}

std::string lineIdentity(const std::string &line)
{
    if (isNumber(line)) {
        const std::string device = portDevice(std::stoi(line));
        return device.empty() ? "port " + line : lineIdentity(device);
    }
    if (const std::string name = comPortName(line); kSystemPortNames && !name.empty())
        return "device " + name;
    const NetworkAddress address = parseNetworkLine(line);
    if (address.valid)
        return "net " + QString::fromStdString(address.host).toLower().toStdString() + ":" +
               std::to_string(address.port);
    const QFileInfo file(QString::fromStdString(line));
    const QString real = file.canonicalFilePath();
    return "device " + (real.isEmpty() ? file.absoluteFilePath() : real).toStdString();
}

bool checkVenueRooms(const std::vector<VenueRoom> &rooms, const std::string &fileName,
                     std::string &error)
{
    std::map<std::string, const VenueRoom *> names;
    std::map<std::string, const VenueRoom *> lines;
    for (const VenueRoom &room : rooms) {
        const auto [name, freshName] = names.emplace(lookAlikeKey(room.name), &room);
        if (!freshName) {
            error = fileName + ":" + std::to_string(room.lineNumber) + ": room '" + room.name +
                    "' is room '" + name->second->name + "' of line " +
                    std::to_string(name->second->lineNumber) +
                    " to the eye (another case or composition); name it otherwise";
            return false;
        }
        const auto [line, freshLine] = lines.emplace(lineIdentity(room.line), &room);
        if (!freshLine) {
            error = fileName + ":" + std::to_string(room.lineNumber) + ": line " + room.line +
                    " is used by " + line->second->name + " and " + room.name +
                    " (two rooms on one line take it from each other)";
            return false;
        }
    }
    return true;
}

} // namespace zev
