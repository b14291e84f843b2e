// The port settings dialog, "COM(USB) 设置". It shows the port settings record, stores it in
// "ZEV720.cfg" on "设置", and searches the ports for the processor on "自动搜索".
// Created once at start; closing it only hides it. It is shown without being modal.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class UpDown;

class TParaForm : public QDialog {
    Q_OBJECT
public:
    explicit TParaForm(QWidget *parent = nullptr);

    /// The record into the controls.
    void SettingsToControls();
    /// The controls into the record, field by field; a text that is not a whole number stops
    /// it with an AppError, and the fields after it keep their values.
    void ControlsToSettings();

    void FormShow();
    void OkBtnClick();
    void CancelBtnClick();
    void ReSourceBtnClick();
    void AutoScanButtonClick();
    /// Ends a running scan at its next port, without its closing message (the program ends).
    void stopScan() { m_scanStopped = true; }
    bool isScanning() const { return m_scanning; }
    /// Shows under the port number what that number stands for on this machine.
    void describePortNumber();

    QLineEdit *ComPortEdit = nullptr;
    UpDown *UpDown1 = nullptr;
    QComboBox *BaudComboBox = nullptr;
    QComboBox *DataBitsComboBox = nullptr;
    QComboBox *StopsBitsComboBox = nullptr;
    QComboBox *ParityComboBox = nullptr;
    QComboBox *FlowControlComboBox = nullptr;
    QLabel *TimeIntervalLabel = nullptr;
    QLineEdit *TimeTimeInterval = nullptr;
    QPushButton *AutoScanButton = nullptr;
    QLabel *PortDeviceLabel = nullptr; ///< the device behind the port number, and its last failure
    QLabel *MessageLabel = nullptr;
    QProgressBar *ProgressBar = nullptr;
    QPushButton *ReSourceBtn = nullptr;
    QPushButton *OkBtn = nullptr;
    QPushButton *CancelBtn = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_scanning = false;    ///< a scan runs; it pumps events, so a second press can arrive
    bool m_scanStopped = false; ///< the window closed or the session ended during the scan
};

/// Spin buttons attached to a line edit: they step its number between 1 and 15 without
/// wrapping around; what is typed into the edit is not limited.
class UpDown : public QWidget {
    Q_OBJECT
public:
    UpDown(QLineEdit *buddy, int min, int max, QWidget *parent = nullptr);
    void step(int delta);

private:
    QLineEdit *m_buddy;
    int m_min, m_max;
};

extern TParaForm *ParaForm;
