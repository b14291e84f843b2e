// The main window's start-up and shutdown.
#include "app/ErrorBox.h"
#include "files/ParameterFile.h"
#include "settings/Paramete.h"
#include "settings/PortSettings.h"
#include "ui/Main.h"

#include <QCloseEvent>
#include <QThread>
#include <QTimer>

using namespace zev;

namespace {
constexpr int kExitWaitMs = 100;
constexpr std::uint8_t kFeedbackRegister = 44;
} // namespace

// The window's controls exist; now its state, in this order. Nothing loaded here is sent:
// real-time control comes on last.
void TMainForm::startUp()
{
    m_model.clear();
    m_model.image[kFeedbackRegister] = 1;
    m_model.image[kDspModeRegister] = 1;
    LoadPortSettings(); // the dialog does not exist yet
    m_channel.reset(new SerialChannel(systemSerialLibrary()));
    m_connected = m_linkOpen = false;
    m_model.realTime = false;
    // Qt draws every widget double-buffered.
    bool loaded = false;
    guarded([this, &loaded] { loaded = LoadParameterFile(kDefaultParameterFile); });
    if (!loaded) LoadFactoryValues();
    SetAllControlsFromImage();
    MarkTransferSet(kPendingNone);
    Timer1->setInterval(pollInterval(portSettings.interval));
    CommunicationBitBtnClick();
    RunCtlDataBitBtnClick();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
    emit closed();
}

// Closing is never refused: a default file that cannot be written is reported, and the
// processor is released all the same.
void TMainForm::FormClose()
{
    if (!m_channel) return; // closed already
    guarded([this] { SaveParameterFile(kDefaultParameterFile); });
    Timer1->stop(); // no tick once the channel is gone
    if (m_channel->IsOpen()) m_channel->WriteFrame(kDisconnectAddress, kCommandValue);
    QThread::msleep(kExitWaitMs);
    m_channel.reset(); // the port itself goes with the process
    if (ParaForm) ParaForm->hide();
}
