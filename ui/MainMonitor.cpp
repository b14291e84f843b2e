// The poll timer's tick and the device lock.
#include "ui/Main.h"

#include <QLabel>

using namespace zev;

namespace {
// Frames refused for this long in a row: the line is held, and the help panel says so.
constexpr qint64 kHeldLineMs = 1000;
const char *const kHeldLineText = QT_TRANSLATE_NOOP("TMainForm", "串口发送受阻，请检查连接或流控制");
} // namespace

void TMainForm::Timer1Timer()
{
    if (!m_link) return; // released at close
    if (m_linkOpen) {
        m_monitor.run(m_link->channel(), m_model, *this);
        watchHeldLine();
    }
    if (m_link->channel().takeDeviceLost()) linkLost();
    UpdateTransferProgress();
}

// A held line (flow control, a device that stopped reading) refuses every frame while the
// port stays open and the link stays up: nothing is lost, the frames are resent, but the user
// should know why nothing reaches the processor. The text goes once a frame goes out again.
void TMainForm::watchHeldLine()
{
    if (m_link->channel().refusedInARow() == 0) {
        m_heldSince.invalidate();
        if (m_heldShown && m_helpPanel->text() == tr(kHeldLineText)) ShowHelpText(m_textBeforeHeld);
        m_heldShown = false;
        return;
    }
    if (!m_heldSince.isValid()) {
        m_heldSince.start();
    } else if (!m_heldShown && m_heldSince.elapsed() > kHeldLineMs) {
        m_textBeforeHeld = m_helpPanel->text();
        ShowHelpText(tr(kHeldLineText));
        m_heldShown = true;
    }
}

void TMainForm::registerRead(std::uint8_t address)
{
    SetControlFromRegister(address);
}

void TMainForm::lockConfirmed()
{
    m_lockPanel->setText(tr("已锁定"));
}

void TMainForm::LockDataBitBtnClick()
{
    if (!m_connected) {
        ShowHelpText(tr("通讯未连接，请先连接！"));
        return;
    }
    m_model.pending[kLockAddress] = kPendingWrite;
    m_model.image[kLockAddress] = kCommandValue;
    ShowHelpText(tr("锁定机器内数据"));
}
