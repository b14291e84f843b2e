// The file commands of the main window: read a parameter file, save one, factory values.
#include "files/ParameterFile.h"
#include "ui/ErrorBox.h"
#include "ui/Main.h"

#include <QApplication>
#include <QFileDialog>

using namespace zev;

namespace {
// The chosen name with the default extension of the filter entry used. The dialog names
// the entry by its description alone, as it shows it ("dat"), or in full.
QString chosenName(const QFileDialog &dialog)
{
    const QString selected = dialog.selectedNameFilter();
    const QString firstEntry = dialog.nameFilters().value(0);
    const bool first = selected == firstEntry || firstEntry.startsWith(selected + " (");
    return QString::fromStdString(
        withDefaultExtension(dialog.selectedFiles().value(0).toStdString(), first));
}
} // namespace

bool TMainForm::LoadParameterFile(const QString &name)
{
    std::string error;
    switch (readParameterFile(resolveFileName(name.toStdString()), m_model, error)) {
    case ReadStatus::Missing:
        return false;
    case ReadStatus::Failed:
        throw AppError(QString::fromStdString(error));
    case ReadStatus::Read:
        break;
    }
    return true;
}

void TMainForm::SaveParameterFile(const QString &name)
{
    std::string error;
    if (!writeParameterFile(resolveFileName(name.toStdString()), m_model, error))
        throw AppError(QString::fromStdString(error));
}

namespace {
// The dialog's answer. A completion list its name field opened can outlive it (Enter accepts
// the dialog with the list still up): closed here, or it would take the window's next click.
int askForFile(QFileDialog &dialog)
{
    const int answer = dialog.exec();
    for (int left = 8; left > 0 && QApplication::activePopupWidget(); --left)
        QApplication::activePopupWidget()->close();
    return answer;
}
} // namespace

void TMainForm::ReadFileBitBtnClick()
{
    ShowHelpText(tr("读入文件"));
    buildFileDialogs();
    if (askForFile(*OpenDialog1) != QDialog::Accepted) return;
    const QString name = chosenName(*OpenDialog1);
    if (!parameterFileExists(resolveFileName(name.toStdString()))) {
        ShowHelpText(tr("打不开文件%1;").arg(name));
        return;
    }
    LoadParameterFile(name);
    SetAllControlsFromImage();
    ShowHelpText(tr("已读入文件：%1").arg(name));
}

void TMainForm::SaveFileBitBtnClick()
{
    ShowHelpText(tr("保存文件"));
    buildFileDialogs();
    if (askForFile(*SaveDialog1) != QDialog::Accepted) return;
    const QString name = chosenName(*SaveDialog1);
    SaveParameterFile(name); // a failure stops here, before the success text
    ShowHelpText(tr("已保存到文件：%1").arg(name));
}

void TMainForm::LoadDefaultBitBtnClick()
{
    LoadFactoryValues();
    SetAllControlsFromImage();
    ShowHelpText(tr("全部参数改为出厂设置。"));
}
