// The progress window. It is created at start and stays hidden: bulk transfers report their
// progress on the main window's status bar.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

class TProgressForm : public QWidget {
    Q_OBJECT
public:
    explicit TProgressForm(QWidget *parent = nullptr);

    QLabel *MessageLabel = nullptr;
    QProgressBar *ProgressBar = nullptr;
};

extern TProgressForm *ProgressForm;
