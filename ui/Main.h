// The main window: three pages of controls, the command buttons, the status bar.
//
// The window owns the parameter model (register image, pending table, mode slots, flags), the
// serial channel and the link state; its controls are built from the register map and each
// carries its design name as its objectName. Everything runs on the user-interface thread;
// handlers call one another directly, and setting a control from code fires the same handler
// as a person's action.
#pragma once

#include "link/LinkSession.h"
#include "wire/ReceiveMonitor.h"
#include "wire/Serialportuse.h"
#include "model/Layout.h"
#include "model/ParameterModel.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>

class QBoxLayout;
class QButtonGroup;
class QCheckBox;
class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;
class QTabWidget;
class QTimer;
class SpinEdit;

class TMainForm : public QMainWindow, private zev::MonitorHost {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // Parameter model: edit path, refresh, mode memories.
    bool SetRegisterFromControl(std::uint8_t address, int position);
    bool SetControlFromRegister(std::uint8_t address);
    bool SetAllControlsFromImage();
    void LoadFactoryValues();
    bool CopyRegisterBlock(std::uint8_t modeRegister, int slot, zev::CopyDirection direction);
    void SelectMusicEQMode(int mode);
    void SelectMicEQMode(int mode);
    void SelectDSPMode(int mode);
    void SetEffectControlsEnabled(bool enabled);

    // Handlers of the coupled volume bars and of the DSP mode controls.
    void MusicVolumeTrackBarChange();
    void MusicMaxVolumeTrackBarChange();
    void MicVolumeTrackBarChange();
    void MicMaxVolumeTrackBarChange();
    void SWVolumeTrackBarChange();
    void SWMicVolumeTrackBarChange();
    void DSPModeKRadioButtonClick(int k); ///< DSPMode1RadioButtonClick .. DSPMode4RadioButtonClick
    void DSPMode5RadioButtonClick();
    void DSPModeCSpinEditChange();

    // Link: connection, real-time control, receive monitor, lock, bulk transfer.
    void ShowHelpText(const QString &text);
    void ApplyPortSettings();
    void CommunicationBitBtnClick();
    void RunCtlDataBitBtnClick();
    void CommSetBitBtnClick();
    void Timer1Timer();
    void LockDataBitBtnClick();
    void MarkTransferSet(std::uint8_t v);
    void SendAllBitBtnClick();
    void LoadMachineBitBtnClick();
    void UpdateTransferProgress();

    // Parameter files and the shutdown.
    bool LoadParameterFile(const QString &name);
    void SaveParameterFile(const QString &name);
    void ReadFileBitBtnClick();
    void SaveFileBitBtnClick();
    void LoadDefaultBitBtnClick();
    void FormClose();

    bool isConnected() const { return m_connected; }
    zev::SerialChannel &channel() { return m_link->channel(); }
    zev::LinkSession &link() { return *m_link; }
    zev::ReceiveMonitor &monitor() { return m_monitor; }
    zev::ParameterModel &model() { return m_model; }
    const zev::ParameterModel &model() const { return m_model; }

    // Controls by register address (nullptr where the register has no such control).
    QSlider *trackBar(std::uint8_t address) const { return m_bars[address]; }
    QLabel *valueLabel(std::uint8_t address) const { return m_valueLabels[address]; }
    QCheckBox *checkBox(std::uint8_t address) const { return m_checks[address]; }
    QRadioButton *radioButton(std::uint8_t address, int value) const;
    QRadioButton *DSPMode5RadioButton() const { return m_fixedModeButton; }
    SpinEdit *DSPModeCSpinEdit() const { return m_fixedModeEdit; }
    QTabWidget *pages() const { return m_pages; }
    /// Status bar panels: 0 link, 1 real-time, 2 lock, 3 help text, 4 the fixed "通讯：".
    QLabel *statusPanel(int index) const;
    /// True when each page sits in a scroll area of its own because the screen is too small.
    bool pagesScroll() const { return !m_pageScrollers.isEmpty(); }
    /// True once a close could not write the default file.
    bool exitSaveFailed() const { return m_exitSaveFailed; }
    QProgressBar *progressBar() const { return m_progress; }

    // Command buttons and the poll timer, by their design names.
    QPushButton *CommunicationBitBtn = nullptr;
    QPushButton *RunCtlDataBitBtn = nullptr;
    QPushButton *SendAllBitBtn = nullptr;
    QPushButton *LoadDefaultBitBtn = nullptr;
    QPushButton *LoadMachineBitBtn = nullptr;
    QPushButton *ReadFileBitBtn = nullptr;
    QPushButton *SaveFileBitBtn = nullptr;
    QPushButton *LockDataBitBtn = nullptr;
    QPushButton *ChangePWDBitBtn = nullptr;
    QPushButton *CommSetBitBtn = nullptr;
    QTimer *Timer1 = nullptr;
    QFileDialog *OpenDialog1 = nullptr;
    QFileDialog *SaveDialog1 = nullptr;

signals:
    /// The edit path stored a new value in the register image.
    void registerEdited(std::uint8_t address, std::uint8_t value);
    /// The window closed: the default file is written and the processor released.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Window construction (Main.cpp, MainPages.cpp) and start-up (Startup.cpp).
    void startUp();
    void buildWindow();
    /// The file dialogs, made when first needed: a dialog remembers its history in the user's
    /// settings when it goes, and a window whose dialogs were never used writes nothing.
    void buildFileDialogs();
    void buildPages();
    QWidget *buildPage(std::size_t index);
    void addLayoutNode(std::size_t index, QBoxLayout *into, int captionLines);
    QWidget *fixedModeControls();
    void buildCommandRow(QWidget *parent, QBoxLayout *row);
    void buildStatusBar();
    void bindParameterControls();
    void bindCommands();
    void nameControlsForPeople();
    void fitToScreen();
    void showValue(std::uint8_t address, const QString &text);
    void describeBar(std::uint8_t address);
    QWidget *barColumn(const zev::LayoutNode &node, int captionLines);
    QWidget *radioColumn(std::uint8_t address);
    QCheckBox *makeCheckBox(std::uint8_t address);

    // Parameter handlers.
    void trackBarChange(std::uint8_t address);
    /// A bar of a coupled pair moved: the shared rules say where both stand; each bar they
    /// move is redrawn and goes through the edit path.
    void coupledBarChange(std::uint8_t address);
    void checkBoxClick(std::uint8_t address, bool checked);
    void radioClick(std::uint8_t address, int value);
    void selectMode(std::uint8_t modeRegister, int mode);
    void markLockStateChanged();

    // Link.
    void linkLost();
    void watchHeldLine();
    void startBulkTransfer(std::uint8_t mark, const QString &text);
    void registerRead(std::uint8_t address) override;
    void lockConfirmed() override;

    zev::ParameterModel m_model;
    std::unique_ptr<zev::LinkSession> m_link; ///< the channel and the handshakes; gone at close
    zev::ReceiveMonitor m_monitor;
    bool m_connected = false; ///< the link state: set only by an acknowledged handshake
    bool m_linkOpen = false;  ///< always equal to the link state; the monitor tests it
    int m_lastPendingShown = 0;
    bool m_exitSaveFailed = false;
    QElapsedTimer m_heldSince; ///< since when every frame was refused; invalid while frames go out
    bool m_heldShown = false;  ///< the help panel says that the line is held
    QString m_textBeforeHeld;  ///< the help text that the held-line text replaced

    std::array<QSlider *, 256> m_bars{};
    std::array<QLabel *, 256> m_valueLabels{};
    std::array<QCheckBox *, 256> m_checks{};
    std::array<QButtonGroup *, 256> m_groups{};
    std::array<QList<QLabel *>, 256> m_captionLabels{}; ///< captions above each bar
    std::array<QLabel *, 256> m_frameCaptions{}; ///< the caption of the panel around a bar
    std::array<QStringList, 256> m_scales{};   ///< scale captions of a bar without a value label
    QRadioButton *m_fixedModeButton = nullptr; ///< DSPMode5RadioButton
    SpinEdit *m_fixedModeEdit = nullptr;       ///< DSPModeCSpinEdit
    QList<QWidget *> m_effectControls;         ///< 15 bars and 33 labels
    QTabWidget *m_pages = nullptr;
    QList<QScrollArea *> m_pageScrollers; ///< one a page, only on a screen smaller than the window
    QLabel *m_linkPanel = nullptr;
    QLabel *m_realTimePanel = nullptr;
    QLabel *m_lockPanel = nullptr;
    QLabel *m_helpPanel = nullptr;
    QLabel *m_commPanel = nullptr;
    QProgressBar *m_progress = nullptr;
};

/// The one main window of the program.
extern TMainForm *MainForm;
