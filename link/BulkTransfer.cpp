// Send-all and read-back: both only mark the transfer set; the monitor does the traffic.
#include "ui/Main.h"

#include <QLabel>
#include <QProgressBar>

using namespace zev;

namespace {
constexpr int kSinglesLeftAlone = 2; // one or two pending registers are single edits
}

void TMainForm::MarkTransferSet(std::uint8_t v)
{
    m_model.markTransferSet(v);
    if (v != kPendingNone) markLockStateChanged();
}

void TMainForm::SendAllBitBtnClick()
{
    if (!m_connected) {
        ShowHelpText("通讯未连接，请先连接！");
        return;
    }
    MarkTransferSet(kPendingWrite);
    ShowHelpText("将全部数据发送到机器");
}

void TMainForm::LoadMachineBitBtnClick()
{
    if (!m_connected) {
        ShowHelpText("通讯未连接，请先连接！");
        return;
    }
    MarkTransferSet(kPendingRead);
    ShowHelpText("从机器读回全部数据");
}

void TMainForm::UpdateTransferProgress()
{
    const int pending = m_model.pendingCount();
    if (pending == m_lastPendingShown) return;
    m_lastPendingShown = pending;
    m_progress->setValue(pending > kSinglesLeftAlone ? pending - kSinglesLeftAlone : 0);
}
