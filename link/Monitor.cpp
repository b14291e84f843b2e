// The poll timer's tick and the device lock.
#include "ui/Main.h"

#include <QLabel>

using namespace zev;

void TMainForm::Timer1Timer()
{
    if (!m_channel) return; // released at close
    if (m_linkOpen) m_monitor.run(*m_channel, m_model, *this);
    if (m_channel->takeDeviceLost()) linkLost();
    UpdateTransferProgress();
}

void TMainForm::registerRead(std::uint8_t address)
{
    SetControlFromRegister(address);
}

void TMainForm::lockConfirmed()
{
    m_panels[2]->setText("已锁定");
}

void TMainForm::LockDataBitBtnClick()
{
    if (!m_connected) {
        ShowHelpText("通讯未连接，请先连接！");
        return;
    }
    m_model.pending[kLockAddress] = kPendingWrite;
    m_model.image[kLockAddress] = kCommandValue;
    ShowHelpText("锁定机器内数据");
}
