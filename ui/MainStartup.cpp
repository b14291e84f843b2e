// The main window's start-up and shutdown.
#include "files/ParameterFile.h"
#include "settings/PortSettings.h"
#include "ui/ErrorBox.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"

#include <QCloseEvent>
#include <QTimer>

using namespace zev;

// The window's controls exist; now its state, in this order. Nothing loaded here is sent:
// real-time control comes on last.
void TMainForm::startUp()
{
    m_model.startAfresh();
    LoadPortSettings(); // the dialog does not exist yet
    m_link.reset(new LinkSession(systemSerialLibrary()));
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

// Closing is never refused. The processor is released before anything is reported: a box
// may wait for a click that never comes (the session is ending), and the processor must not
// stay held meanwhile. A default file that cannot be written is reported afterwards.
void TMainForm::FormClose()
{
    if (!m_link) return;                // closed already
    if (ParaForm) ParaForm->stopScan(); // a scan running below this close ends at its next port
    QString saveError;
    try {
        SaveParameterFile(kDefaultParameterFile);
    } catch (const std::exception &error) {
        saveError = QString::fromUtf8(error.what());
    }
    Timer1->stop(); // no tick once the channel is gone
    m_link->releaseProcessor();
    m_link.reset();
    if (ParaForm) ParaForm->hide();
    m_exitSaveFailed = !saveError.isEmpty();
    if (m_exitSaveFailed) showErrorBox(saveError);
}
