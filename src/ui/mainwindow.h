// The main window: six mode buttons, the input, operation, output and about
// panels, the progress panel, and the handlers that drive the engine. Thin:
// every rule of the operations lives in the engine and resize layers.
#pragma once

#include <QStringList>
#include <QWidget>
#include <memory>

#include "engine/torvel.h"
#include "settings/checkversion.h"
#include "settings/setup.h"
#include "ui/taskbar.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class QTimer;
class QToolButton;
class TFrmConfirm;
class TFrmRawInfo;

constexpr const char* AppVersion = "2.1.0";
constexpr const char* HomePage = "https://torveltools.example/";

class TFrmMain : public QWidget {
  Q_OBJECT
 public:
  // SettingsFile: where the settings live (the front end passes the path).
  explicit TFrmMain(const QString& SettingsFile, QWidget* parent = nullptr);
  ~TFrmMain() override;

  // Fields of the window's own.
  bool DroppedFile = false;
  bool Paused = false;
  int32_t CurrentPanel = 0;
  uint16_t NumOfCores = 1;

  // The main engine record, and the dialogs created at start-up.
  TTorvel Torvel;
  TFrmRawInfo* FrmRawInfo = nullptr;
  TFrmConfirm* FrmConfirm = nullptr;
  TTaskbarProgress Taskbar1{"torvel-tools"};
  std::unique_ptr<TSetup> Setup;
  std::unique_ptr<TCheckVersion> Checker;
  QString UpdateEndpoint = DefaultUpdateEndpoint;

  // The open dialog's state: last chosen name and the chosen list.
  QString odFileName;
  QStringList odFiles;
  bool odMultiSelect = false;
  QString BrowseDirectory;  // the folder last chosen in the folder browser

  // Controls, by the names the tests look for.
  QFrame *PButtons, *PInput, *PMain, *POutput, *PProgress, *PAbout, *Panel4;
  QFrame *PConvert, *PCrop, *PResize, *PSplit, *PMerge;
  QPushButton *btConvert, *btCrop, *btResize, *btSplit, *btMerge, *btAbout;
  QLabel *lbInputFile, *lbFileSize, *lbWidth, *lbHeight, *lbBits, *lbChannels, *lbImage;
  QLineEdit *EditInputFile, *EditOutputFolder;
  QToolButton *sbInput, *sbOutputFolder;
  QSpinBox *EditCropX, *EditCropY, *EditCropW, *EditCropH;
  QSpinBox *jvResizeW, *jvResizeH, *jvSplitWidth, *jvSplitHeight, *jvSplitX, *jvSplitY, *jvMergeX, *jvMergeY;
  QRadioButton *rbFastResize, *rbSlowResize, *rbTif, *rbTifLzw, *rbRaw, *rbKro;
  QPushButton *btStart, *btPause, *btAbort, *Button1;
  QLabel *lbStatusDescr, *lbAboutInfo, *lbAboutHomepage, *lbNewVersion;
  QProgressBar* PBStatus;
  QCheckBox* cbCheckForUpdates;
  QStatusBar* StatusBar;
  QTimer* CheckForUpdatesTimer;

  // Modes and panels.
  void ShowPanel(uint8_t Panel);
  void GetOutputFormat();
  void SetRunControlsEnabled(bool Enabled);
  void DisableButtons();
  void EnableButtons();
  void ClearInputInfoPanel();
  bool Busy() const;

  // The engine's events.
  void ShowError(const std::string& Msg);
  void ShowStatus(const std::string& Msg);
  void ShowProgress(int32_t Max, const std::string& Desc);
  void UpdateProgress(int32_t Current);
  void HideProgress();
  void CheckIfPaused();
  void btPauseClick();
  void btAbortClick();

  // Input and output selection.
  void sbInputClick();
  void sbOutputFolderClick();
  // A drop of files at a point of the window (client coordinates).
  void DropFiles(const QStringList& Names, const QPoint& At);
  QString GetOutputFolder(const QString& FileName) const;

  // Operation set-up and start.
  void RunConvert(int32_t X, int32_t Y, int32_t W, int32_t H);
  void RunCrop();
  void RunSplit(std::vector<std::string>& Files);
  void RunMerge();
  void RunResize();
  void jvSplitWidthChange(QObject* Sender);
  void btStartClick();

  // Update check.
  void CheckForUpdatesTimerTimer();
  void Button1Click();
  void lbAboutHomepageClick();

  // The settings, written at close.
  bool SaveSettings();

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildButtons();
  void BuildInput();
  void BuildOperations();
  void BuildOutput();
  void BuildProgress();
  void BuildAbout();
  void SetInfo(const TFileInfo& I);

  class TWindowPrompt;
  std::unique_ptr<TWindowPrompt> Prompt;
  bool CloseRequested = false;
};
