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

// Both bulk transfers only mark the transfer set, and only while the link is up.
void TMainForm::startBulkTransfer(std::uint8_t mark, const QString &text)
{
    if (!m_connected) {
        ShowHelpText(tr("通讯未连接，请先连接！"));
        return;
    }
    MarkTransferSet(mark);
    ShowHelpText(text);
}

void TMainForm::SendAllBitBtnClick()
{
    startBulkTransfer(kPendingWrite, tr("将全部数据发送到机器"));
}

void TMainForm::LoadMachineBitBtnClick()
{
    startBulkTransfer(kPendingRead, tr("从机器读回全部数据"));
}

void TMainForm::UpdateTransferProgress()
{
    const int pending = m_model.pendingCount();
    if (pending == m_lastPendingShown) return;
    m_lastPendingShown = pending;
    m_progress->setValue(pending > kSinglesLeftAlone ? pending - kSinglesLeftAlone : 0);
}
