// A schedule's recall into 64 rooms against one room's: zev720d on a clock file (the time it
// reads at every look, as its tests use) holds 64 emulators paced like 9600-baud lines; a
// preset that differs from every room in 8 registers is recalled by a schedule entry into one
// room, then by another into all 64, and each is timed from the clock passing the entry's time
// to the last room's last frame on its line.
#include "Held.h"

#include <QDateTime>
#include <QTimeZone>

namespace {

constexpr int kRooms = 64;
const std::vector<int> kVolumes{16, 17, 32, 33, 80, 81, 85, 86};

void setClock(const QString &path, const QDateTime &at)
{
    QFile file(path + ".new");
    file.open(QIODevice::WriteOnly);
    file.write(at.toUTC().toString(Qt::ISODate).toUtf8());
    file.close();
    std::rename((path + ".new").toLocal8Bit().constData(), path.toLocal8Bit().constData());
}

/// When the last of the rooms received its last write of the preset's registers, or NaN while
/// one has received none of them.
double lastArrival(const bench::HeldVenue &venue, int count, double after)
{
    double last = 0;
    for (int room = 0; room < count; ++room) {
        QFile file(venue.log(room));
        if (!file.open(QIODevice::ReadOnly)) return NAN;
        double arrived = NAN;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() < 5 || fields[1] != "rx" || fields[4] == "FC") continue; // FC: a read
            const double t = fields[0].toDouble();
            if (t >= after && std::find(kVolumes.begin(), kVolumes.end(), fields[3].toInt(nullptr, 16)) != kVolumes.end())
                arrived = t;
        }
        if (std::isnan(arrived)) return NAN;
        last = std::max(last, arrived);
    }
    return last;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bench::HeldVenue venue;
    const QString clock = venue.dir.filePath("clock");
    const QTimeZone zone("Asia/Shanghai");
    QDateTime now(QDate(2026, 12, 10), QTime(20, 0), zone);
    setClock(clock, now);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEV720D_CLOCK_FILE", clock);
    environment.insert("TZ", "Asia/Shanghai");
    if (!venue.start(kRooms, environment)) return 0;
    bench::Client &client = venue.client;

    std::vector<double> one, all;
    for (int run = 0; run < 3; ++run) {
        // A preset unlike every room, made on the last room and put back.
        const int value = 10 + run * 7;
        for (int address : kVolumes) client.call("PATCH", "/api/v1/rooms/R63/registers", bench::patch(address, value));
        client.call("PUT", QString("/api/v1/presets/p%1").arg(run), R"({"fromRoom":"R63"})");
        for (int address : kVolumes) client.call("PATCH", "/api/v1/rooms/R63/registers", bench::patch(address, 60));
        for (const auto &[rooms, into] : {std::pair{QString("R00"), &one}, std::pair{QString("all"), &all}}) {
            now = now.addSecs(3600);
            const QString at = now.toTimeZone(zone).time().addSecs(60).toString("HH:mm");
            const QByteArray schedule = QString(R"({"entries": [{"name": "bench", "at": "%1", "recall": "p%2", "rooms": "%3"}]})")
                                            .arg(at).arg(run).arg(rooms).toUtf8();
            if (client.call("PUT", "/api/v1/schedule", schedule) != 200) std::printf("schedule refused\n");
            // A room that holds the preset already would take nothing: R00 (the one room) is
            // put back each time; the others differ from each run's preset.
            for (int address : kVolumes) client.call("PATCH", "/api/v1/rooms/R00/registers", bench::patch(address, 60));
            const double started = bench::monotonicSeconds();
            setClock(clock, now.addSecs(60));
            const int count = rooms == "all" ? kRooms : 1;
            double last = NAN;
            // Every room reached, and then the frames settled for a second.
            bench::waitFor([&] { return !std::isnan(last = lastArrival(venue, count, started)); }, 20000);
            bench::waitFor([&] { return bench::monotonicSeconds() - lastArrival(venue, count, started) > 1; }, 20000);
            last = lastArrival(venue, count, started);
            if (std::isnan(last)) std::printf("%s: not every room was reached\n%s", qPrintable(rooms),
                                              venue.server.readAll().constData());
            into->push_back(last - started);
        }
    }
    const double ratio = bench::median(all) / bench::median(one);
    std::printf("schedule recall: one room %.0f ms, 64 rooms %.0f ms (medians of 3; the clock is looked at once a second)\n",
                bench::median(one) * 1000, bench::median(all) * 1000);
    bench::report("schedule: recall into 64 rooms / 1 room", ratio, "x", "<= 1.5", 1.5 / ratio);
    bench::report("schedule: recall into 64 rooms, last frame", bench::median(all) * 1000, "ms", "", NAN);
    return 0;
}
