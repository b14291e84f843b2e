// The desktop panel through a room's frame port beside the API: a bar the panel moves is an
// event on the API's stream, naming the frame port, and the panel's read-back shows a change
// made through the API. The panel runs here, on the offscreen platform; the server and the
// emulator are the real programs.
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Server.h"
#include "support/Sim.h"
#include "ui/Main.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <memory>

using namespace zev;
using testing::Sim;
using testing::tickUntil;

class TestPanelApi : public QObject {
    Q_OBJECT
private slots:
    void panelAndApiShareTheRoom();

private:
    testing::WorkingFolder m_folder;
};

void TestPanelApi::panelAndApiShareTheRoom()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    testing::VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    QVERIFY(server.start("venue.csv"));
    testing::EventClient events;
    QVERIFY(events.open(server.api, {{"Authorization", token}}));

    // The panel's port 5 is the room's frame port.
    qunsetenv("ZEV720_COM5");
    portSettings = {};
    portSettings.port = 5;
    std::string error;
    QVERIFY(SavePortSettings(error));
    QVERIFY(testing::writeFile("ZEV720.ports", ("5 = " + server.ports["stage"] + "\n").toUtf8()));
    std::unique_ptr<TMainForm> form(new TMainForm);
    QVERIFY2(form->isConnected(), qPrintable(form->statusPanel(3)->text()));

    form->trackBar(16)->setValue(30);
    QVERIFY(tickUntil(*form, [&] { return form->model().pendingCount() == 0; }));
    const int held = sim.registers()[16];
    QCOMPARE(int(form->model().image[16]), held);
    QVERIFY(events.waitFor([&](const QJsonObject &m) {
        return m["type"] == "change" && m["register"]["address"].toInt() == 16 &&
               m["register"]["value"].toInt() == held && m["through"] == "frame port";
    }));

    QCOMPARE(testing::http("PATCH", server.url("/api/v1/rooms/stage/registers"),
                           R"({"registers":[{"name":"MicVolumeTrackBar","value":20}]})",
                           {{"Authorization", token}, {"Content-Type", "application/json"}})
                 .status,
             200);
    form->LoadMachineBitBtn->click();
    QVERIFY(tickUntil(*form, [&] { return form->model().pendingCount() == 0; }));
    QCOMPARE(int(form->model().image[32]), 20);

    // The panel's goodbye is the server's to answer: the processor's link stays the server's.
    form->close();
    form.reset();
    QVERIFY(server.waitFor(" left")); // the panel's goodbye is over: the port has it all
    QVERIFY(sim.frames().last().address() != int(kDisconnectAddress));
    QCOMPARE(testing::http("GET", server.url("/api/v1/rooms/stage"), {}, {{"Authorization", token}})
                 .json()["state"],
             "online");
}

QTEST_MAIN(TestPanelApi)
#include "tst_panelapi.moc"
