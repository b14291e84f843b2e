#include "link/PortInfo.h"

#include "wire/NetworkAddress.h"
#include "wire/PortMap.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>
#include <map>

namespace zev {
namespace {

std::map<int, OpenOutcome> &outcomes()
{
    static std::map<int, OpenOutcome> byPort;
    return byPort;
}

// The system's words on a device: what it is, who made it, its serial number.
QString systemDescription(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != target && info.systemLocation() != device &&
            info.portName() != device)
            continue;
        QStringList parts;
        for (const QString &part : {info.description(), info.manufacturer(), info.serialNumber()})
            if (!part.isEmpty()) parts << part;
        return parts.join(", ");
    }
    return {};
}

} // namespace

OpenOutcome lastOpenOutcome(int port)
{
    const auto it = outcomes().find(port);
    return it == outcomes().end() ? OpenOutcome{} : it->second;
}

void recordOpenOutcome(int port, const OpenOutcome &outcome)
{
    outcomes()[port] = outcome;
}

std::string openFailureForPeople(const OpenOutcome &outcome)
{
    switch (outcome.result) {
    case LineResult::Ok:
        return {};
    case LineResult::NoSuchDevice:
        return outcome.text.empty() ? "设备不存在" : "设备不存在（" + outcome.text + "）";
    case LineResult::PermissionDenied:
        if (!outcome.group.empty()) return "没有权限，请把用户加入 " + outcome.group + " 组后重新登录";
        if (!outcome.owner.empty()) return "没有权限：只有用户 " + outcome.owner + " 可以读写这个设备";
        return "没有权限";
    case LineResult::HeldElsewhere:
        return "被其他程序占用";
    case LineResult::HeldHere:
        return "已被本程序打开";
    case LineResult::UnknownHost:
        return "未知主机（" + outcome.text + "）";
    case LineResult::Refused:
        return "连接被拒绝（" + outcome.text + "）";
    case LineResult::NoAnswer:
        return "无应答（" + outcome.text + "）";
    case LineResult::DeviceGone:
        return "设备已断开";
    case LineResult::LineHeld:
        return "串口发送受阻";
    case LineResult::Failed:
        return outcome.text;
    }
    return outcome.text;
}

std::string describePortForPeople(int port)
{
    const QString device = QString::fromStdString(portDevice(port));
    QString line;
    if (device.isEmpty()) {
        line = "没有设备对应这个端口号";
    } else if (isNetworkLine(device.toStdString())) {
        line = device + "（网络线路）";
    } else if (!QFileInfo::exists(device) && QSerialPortInfo(device).isNull()) {
        // Neither a path (Linux) nor a port that the system lists (COM<n> on Windows).
        line = device + "（设备不存在）";
    } else {
        line = device;
        const QString described = systemDescription(device);
        if (!described.isEmpty()) line += " (" + described + ")";
    }
    const QString reason = QString::fromStdString(openFailureForPeople(lastOpenOutcome(port)));
    if (!reason.isEmpty()) line += "；上次打开失败：" + reason;
    for (const std::string &problem : readPortsFile().problems)
        line += "；" + QString::fromStdString(problem);
    return line.toStdString();
}

} // namespace zev
