#include "link/PortInfo.h"

#include "wire/NetworkAddress.h"
#include "link/PortDevices.h"

#include <QCoreApplication>
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

namespace {
// In the window's language: these texts are the window's (translations/ has their English).
std::string said(const char *text, const std::string &argument = {})
{
    QString line = QCoreApplication::translate("PortInfo", text);
    if (!argument.empty()) line = line.arg(QString::fromStdString(argument));
    return line.toStdString();
}
} // namespace

std::string openFailureForPeople(const OpenOutcome &outcome)
{
    switch (outcome.result) {
    case LineResult::Ok:
        return {};
    case LineResult::NoSuchDevice:
        return outcome.text.empty() ? said(QT_TRANSLATE_NOOP("PortInfo", "设备不存在"))
                                    : said(QT_TRANSLATE_NOOP("PortInfo", "设备不存在（%1）"), outcome.text);
    case LineResult::PermissionDenied:
        if (!outcome.group.empty())
            return said(QT_TRANSLATE_NOOP("PortInfo", "没有权限，请把用户加入 %1 组后重新登录"),
                        outcome.group);
        if (!outcome.owner.empty())
            return said(QT_TRANSLATE_NOOP("PortInfo", "没有权限：只有用户 %1 可以读写这个设备"),
                        outcome.owner);
        return said(QT_TRANSLATE_NOOP("PortInfo", "没有权限"));
    case LineResult::HeldElsewhere:
        return said(QT_TRANSLATE_NOOP("PortInfo", "被其他程序占用"));
    case LineResult::HeldHere:
        return said(QT_TRANSLATE_NOOP("PortInfo", "已被本程序打开"));
    case LineResult::UnknownHost:
        return said(QT_TRANSLATE_NOOP("PortInfo", "未知主机（%1）"), outcome.text);
    case LineResult::Refused:
        return said(QT_TRANSLATE_NOOP("PortInfo", "连接被拒绝（%1）"), outcome.text);
    case LineResult::NoAnswer:
        return said(QT_TRANSLATE_NOOP("PortInfo", "无应答（%1）"), outcome.text);
    case LineResult::DeviceGone:
        return said(QT_TRANSLATE_NOOP("PortInfo", "设备已断开"));
    case LineResult::LineHeld:
        return said(QT_TRANSLATE_NOOP("PortInfo", "串口发送受阻"));
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
        line = QString::fromStdString(said(QT_TRANSLATE_NOOP("PortInfo", "没有设备对应这个端口号")));
    } else if (isNetworkLine(device.toStdString())) {
        line = QString::fromStdString(said(QT_TRANSLATE_NOOP("PortInfo", "%1（网络线路）"), device.toStdString()));
    } else if (!QFileInfo::exists(device) && QSerialPortInfo(device).isNull()) {
        // Neither a path (Linux) nor a port that the system lists (COM<n> on Windows).
        line = QString::fromStdString(said(QT_TRANSLATE_NOOP("PortInfo", "%1（设备不存在）"), device.toStdString()));
    } else {
        line = device;
        const QString described = systemDescription(device);
        if (!described.isEmpty()) line += " (" + described + ")";
    }
    const std::string reason = openFailureForPeople(lastOpenOutcome(port));
    if (!reason.empty())
        line += QString::fromStdString(said(QT_TRANSLATE_NOOP("PortInfo", "；上次打开失败：%1"), reason));
    for (const std::string &problem : readPortsFile().problems)
        line += QCoreApplication::translate("PortInfo", "；") + QString::fromStdString(problem);
    return line.toStdString();
}

} // namespace zev
