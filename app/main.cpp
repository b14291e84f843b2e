// The ZEV720 control panel.
#include "ui/Main.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainForm = new TMainForm;
    MainForm->show();
    const int result = app.exec();
    delete MainForm;
    return result;
}
