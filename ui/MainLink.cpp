// Connection and real-time control: the handshakes with the processor, the link state and
// the help texts of the status bar.
#include "link/LinkSession.h"
#include "link/PortInfo.h"
#include "settings/PortSettings.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

using namespace zev;

namespace {
bool connectGuard = false; // one per program: a press that arrives while one runs returns
} // namespace

void TMainForm::ShowHelpText(const QString &text)
{
    m_helpPanel->setText(text);
}

void TMainForm::ApplyPortSettings()
{
    m_link->setLine(portSettings);
}

void TMainForm::CommunicationBitBtnClick()
{
    if (connectGuard || !m_link) return;
    connectGuard = true;
    Timer1->stop(); // the monitor must not take the handshake's reply
    if (!m_connected) {
        ApplyPortSettings();
        // A device that went away since the port was opened: the same press reopens it.
        if (!m_link->open()) {
            // The design's words first, then why, so that nobody needs the dialog to know.
            const QString why = QString::fromStdString(
                zev::openFailureForPeople(m_link->channel().lastOpen()));
            ShowHelpText(tr("串口打开错误，请检查串口号") + (why.isEmpty() ? QString() : tr("：") + why));
        } else {
            ShowHelpText(tr("正在连接,请稍候..."));
            switch (m_link->connectProcessor()) {
            case ConnectResult::Connected:
                ShowHelpText(tr("已连接机器，可以进行通讯操作"));
                m_linkPanel->setText(tr("联机"));
                m_linkOpen = m_connected = true;
                CommunicationBitBtn->setText(tr("已连接.."));
                break;
            case ConnectResult::DeviceLost:
                ShowHelpText(tr("串口已断开，请检查连接"));
                break;
            case ConnectResult::PortNotOpen:
            case ConnectResult::NoAnswer:
                ShowHelpText(tr("通讯连接失败！机器可能未开机"));
                break;
            }
        }
    } else if (m_link->channel().IsOpen()) {
        ShowHelpText(tr("通讯连接断开"));
        if (m_link->disconnectProcessor()) {
            ShowHelpText(tr("已断开连接，不能与机器进行通讯操作"));
            m_linkPanel->setText(tr("脱机"));
            m_linkOpen = m_connected = false;
            // The caption follows the link: only an acknowledged disconnect changes it.
            CommunicationBitBtn->setText(tr("已断开.."));
        }
        // The port stays open in either case.
    } else {
        ShowHelpText(tr("串口关闭错误."));
    }
    if (m_connected) Timer1->start();
    connectGuard = false;
}

// The channel closed itself because its device went away: the link is down, nothing
// pending is lost, and the next connect reopens the port.
void TMainForm::linkLost()
{
    Timer1->stop();
    m_linkOpen = m_connected = false;
    m_linkPanel->setText(tr("脱机"));
    CommunicationBitBtn->setText(tr("已断开.."));
    ShowHelpText(tr("串口已断开，请检查连接"));
}

void TMainForm::RunCtlDataBitBtnClick()
{
    m_model.realTime = !m_model.realTime;
    RunCtlDataBitBtn->setText(m_model.realTime ? tr("实时调节机器") : tr("不调节机器"));
    m_realTimePanel->setText(m_model.realTime ? tr("实时") : tr("脱离"));
    if (m_connected)
        ShowHelpText(m_model.realTime ? tr("实时调节，任何改动将实时控制机器。")
                                      : tr("离实调节，任何改动不能实时控制机器。"));
}

void TMainForm::CommSetBitBtnClick()
{
    ShowHelpText(tr("设置串口通讯参数。"));
    if (m_connected) CommunicationBitBtnClick();
    if (ParaForm) {
        ParaForm->show();
        ParaForm->raise();
        ParaForm->activateWindow();
    }
    Timer1->setInterval(pollInterval(portSettings.interval));
}
