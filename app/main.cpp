// The ZEV720 control panel.
#include "ui/Main.h"
#include "ui/Progress.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainForm = new TMainForm;
    ProgressForm = new TProgressForm;
    MainForm->show();
    const int result = app.exec();
    delete ProgressForm;
    delete MainForm;
    return result;
}
