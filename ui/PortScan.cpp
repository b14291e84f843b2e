// The port scan of the settings dialog: ports 1 to 15 in turn, each probed with the connect
// command on a channel of the scan's own. The main window's channel and link are not touched.
#include "wire/LineCodes.h"
#include "wire/Serialportuse.h"
#include "model/RegisterMap.h"
#include "settings/PortSettings.h"
#include "ui/ErrorBox.h"
#include "ui/PortDialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QThread>
#include <memory>

using namespace zev;

namespace {
constexpr int kStepMs = 15;
constexpr int kStepsBeforePort = 40;
constexpr int kStepsBetweenPhases = 2;
constexpr int kProbes = 10;

// A confirmation box; Yes is its answer's only meaning.
bool confirm(QWidget *parent, const QString &text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(QMessageBox::Question, TParaForm::tr("确认"), text, buttons, parent);
    box.setObjectName("ScanMessageBox");
    return box.exec() == QMessageBox::Yes;
}
} // namespace

void TParaForm::AutoScanButtonClick()
{
    if (m_scanning) return; // pressed again while it runs
    m_scanning = true;
    m_scanStopped = false;
    ProgressBar->setVisible(true);
    MessageLabel->setVisible(true);
    int counter = 0;
    ProgressBar->setValue(0);
    // Each step blocks the window for 15 ms and then moves the bar on.
    const auto steps = [&](int count) {
        for (int i = 0; i < count; ++i) {
            QThread::msleep(kStepMs);
            ProgressBar->setValue(counter++);
        }
    };
    std::unique_ptr<SerialChannel> scan(new SerialChannel(systemSerialLibrary()));
    // However the scan ends, its channel goes and the bar and label are hidden.
    struct Cleanup {
        TParaForm *form;
        std::unique_ptr<SerialChannel> &channel;
        ~Cleanup()
        {
            if (channel) channel->ClosePort();
            channel.reset();
            form->ProgressBar->setVisible(false);
            form->MessageLabel->setVisible(false);
            form->m_scanning = false;
            form->describePortNumber();
        }
    } cleanup{this, scan};

    bool found = false;
    QStringList held; // ports the scan could not open because someone holds them
    for (int port = kFirstScanPort; port <= kLastScanPort && !found; ++port) {
        MessageLabel->setText(tr("搜索COM(USB)%1,  请等待...").arg(port));
        repaint();
        QApplication::processEvents();
        if (m_scanStopped) return; // the program is ending: no more ports, no message
        steps(kStepsBeforePort);
        ControlsToSettings(); // the dialog's choices, stored or not; a bad port text ends here
        PortSettings line = portSettings;
        line.port = port;
        applyPortSettings(*scan, line);
        steps(kStepsBetweenPhases);
        scan->OpenPort();
        // The window's own port stays the window's: the scan says so rather than "not found".
        if (scan->lastOpen().result == LineResult::HeldHere)
            held << tr("COM(USB)%1 由主窗口使用，请用主窗口的连接按钮联机").arg(port);
        else if (scan->lastOpen().result == LineResult::HeldElsewhere)
            held << tr("COM(USB)%1 被其他程序占用，请先关闭该程序").arg(port);
        steps(kStepsBetweenPhases);
        if (scan->IsOpen()) {
            for (int probe = 0; probe < kProbes && !found; ++probe) {
                scan->WriteFrame(kConnectAddress, kCommandValue);
                steps(kStepsBetweenPhases);
                std::uint8_t address = 0, value = 0;
                // Only a frame found by this very poll counts, never one from an earlier port.
                if (scan->PollFrames(address, value) && address == kConnectAddress &&
                    value == kCommandReply) {
                    found = true;
                    scan->WriteFrame(kDisconnectAddress, kCommandValue);
                }
            }
        }
        steps(kStepsBetweenPhases);
        scan->ClosePort();
        steps(kStepsBetweenPhases);
        if (found) {
            repaint();
            QApplication::processEvents();
            if (m_scanStopped) return;
            if (confirm(this, tr("找到COM(USB)%1，OK！").arg(port),
                        QMessageBox::Yes | QMessageBox::No))
                ComPortEdit->setText(QString::number(port));
            else
                found = false;
        }
    }
    repaint();
    QApplication::processEvents();
    if (!found && !m_scanStopped)
        confirm(this,
                QStringList(QStringList{tr("COM(USB)连接失败,请检查端口或USB驱动是否安装...")} + held)
                    .join('\n'),
                QMessageBox::Yes);
}
