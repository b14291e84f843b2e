// zev720ctl ports [--probe]: what each port number and serial device stands for, and with
// --probe whether a processor answers there (every port tried at the same time).
#include "Ctl.h"

#include "room/Difference.h"
#include "settings/PortSettings.h"
#include "link/PortDevices.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <memory>

namespace ctl {

int listPorts(bool probe, const zev::LineOptions &options, bool json)
{
    struct Row {
        int number = 0; ///< 0: a device without a number
        QString device;
        QJsonObject info;
    };
    std::vector<Row> rows;
    QStringList seen;
    const QList<QSerialPortInfo> available = QSerialPortInfo::availablePorts();
    auto describe = [&](int number, const QString &device) {
        Row row{number, device, {}};
        for (const QSerialPortInfo &info : available) {
            // Linux names a device by its path, Windows by COM<n> (its location is \\.\COM<n>).
            if (info.systemLocation() != QFileInfo(device).canonicalFilePath() &&
                info.systemLocation() != device && info.portName() != device)
                continue;
            row.info["description"] = info.description();
            row.info["manufacturer"] = info.manufacturer();
            row.info["serialNumber"] = info.serialNumber();
            if (info.hasVendorIdentifier())
                row.info["usb"] = QString("%1:%2")
                                      .arg(info.vendorIdentifier(), 4, 16, QChar('0'))
                                      .arg(info.productIdentifier(), 4, 16, QChar('0'));
        }
        rows.push_back(row);
        seen << device;
    };
    for (int port = zev::kFirstScanPort; port <= zev::kLastScanPort; ++port) {
        const QString device = QString::fromStdString(zev::portDevice(port));
        if (!device.isEmpty()) describe(port, device);
    }
    for (const QSerialPortInfo &info : available)
        if (!seen.contains(info.systemLocation()) && !seen.contains(info.portName()))
            describe(0, info.systemLocation());

    std::vector<std::unique_ptr<zev::RoomJob>> probes;
    if (probe) {
        std::vector<zev::RoomJob *> jobs;
        for (const Row &row : rows) {
            zev::RoomTask task;
            task.line = row.number > 0 ? std::to_string(row.number) : row.device.toStdString();
            task.options = options;
            task.operation = zev::Operation::Probe;
            probes.push_back(std::make_unique<zev::RoomJob>(task));
            jobs.push_back(probes.back().get());
        }
        runJobs(jobs);
    }

    QJsonArray out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QJsonObject object = rows[i].info;
        if (rows[i].number > 0) object["port"] = rows[i].number;
        object["device"] = rows[i].device;
        if (probe) {
            const zev::RoomReport &report = probes[i]->report();
            object["probe"] =
                report.outcome == zev::Outcome::Ok ? QString("answers") : outcomeText(report);
        }
        out.append(object);
    }
    if (json) {
        printRaw(QJsonDocument(QJsonObject{{"command", "ports"},
                                           {"version", zev::kResultVersion},
                                           {"ports", out}})
                     .toJson(QJsonDocument::Indented));
        return ended() ? kInterrupted : kOk;
    }
    if (out.isEmpty()) print("no serial ports");
    for (const QJsonValue &value : out) {
        const QJsonObject row = value.toObject();
        QStringList parts;
        parts << (row.contains("port") ? QString("port %1").arg(row["port"].toInt())
                                       : QString("(no number)"))
              << printable(row["device"].toString());
        for (const char *key : {"description", "manufacturer", "serialNumber", "usb"})
            if (!row[key].toString().isEmpty()) parts << printable(row[key].toString());
        if (row.contains("probe")) parts << "— " + row["probe"].toString();
        print(parts.join("  "));
    }
    return ended() ? kInterrupted : kOk;
}

} // namespace ctl
