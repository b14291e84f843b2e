#include "link/PortInfo.h"

#include "link/NetworkLines.h"
#include "link/PortMap.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>
#include <grp.h>
#include <map>
#include <sys/stat.h>

namespace zev {
namespace {

std::map<int, OpenFailureReport> &failures()
{
    static std::map<int, OpenFailureReport> byPort;
    return byPort;
}

// The system's words on a device: what it is, who made it, its serial number.
QString systemDescription(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != target && info.systemLocation() != device) continue;
        QStringList parts;
        for (const QString &part : {info.description(), info.manufacturer(), info.serialNumber()})
            if (!part.isEmpty()) parts << part;
        return parts.join(", ");
    }
    return {};
}

QString reasonText(const OpenFailureReport &report)
{
    switch (report.kind) {
    case OpenFailure::None:
        return {};
    case OpenFailure::NoSuchDevice:
        return "设备不存在";
    case OpenFailure::PermissionDenied:
        return QString("没有权限，请把用户加入 %1 组后重新登录")
            .arg(QString::fromStdString(report.group.empty() ? "dialout" : report.group));
    case OpenFailure::HeldElsewhere:
        return "被其他程序占用";
    case OpenFailure::HeldHere:
        return "已被本程序打开";
    case OpenFailure::Other:
        return QString::fromStdString(report.text);
    }
    return {};
}

} // namespace

OpenFailureReport lastOpenFailure(int port)
{
    const auto it = failures().find(port);
    return it == failures().end() ? OpenFailureReport{} : it->second;
}

void recordOpenFailure(int port, const OpenFailureReport &report)
{
    failures()[port] = report;
}

std::string describePortForPeople(int port)
{
    const QString device = QString::fromStdString(portDevice(port));
    QString line;
    if (device.isEmpty()) {
        line = "没有设备对应这个端口号";
    } else if (isNetworkLine(device.toStdString())) {
        line = device + "（网络线路）";
    } else if (!QFileInfo::exists(device)) {
        line = device + "（设备不存在）";
    } else {
        line = device;
        const QString described = systemDescription(device);
        if (!described.isEmpty()) line += " (" + described + ")";
    }
    const QString reason = reasonText(lastOpenFailure(port));
    if (!reason.isEmpty()) line += "；上次打开失败：" + reason;
    for (const std::string &problem : readPortsFile().problems)
        line += "；" + QString::fromStdString(problem);
    return line.toStdString();
}

} // namespace zev
