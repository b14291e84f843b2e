#include "ui/Progress.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

TProgressForm *ProgressForm = nullptr;

namespace {
constexpr int kSteps = 500;
}

TProgressForm::TProgressForm(QWidget *parent)
    : QWidget(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("ProgressForm");
    setWindowTitle(tr("进度条"));
    auto *column = new QVBoxLayout(this);
    MessageLabel = new QLabel(tr("运行进度"), this);
    MessageLabel->setObjectName("MessageLabel");
    MessageLabel->setAlignment(Qt::AlignCenter);
    QFont bold = MessageLabel->font();
    bold.setBold(true);
    MessageLabel->setFont(bold);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setRange(0, kSteps);
    ProgressBar->setTextVisible(false);
    column->addWidget(MessageLabel);
    column->addWidget(ProgressBar);
    resize(360, 110);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
