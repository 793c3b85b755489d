#pragma once
// The splash window: shown once at start-up with a countdown, and again in about mode (no
// countdown, stays until clicked) by the About command.
//
// Threads: user-interface thread only.
#include <QDialog>
#include <memory>

namespace Ui {
class frmLumenFold2Splash;
}
class QTimer;

// Number of timer ticks (100 ms each) before the start-up splash closes by itself.
inline constexpr int kSplashCountdown = 50;

class TfrmLumenFold2Splash : public QDialog {
  Q_OBJECT
public:
  explicit TfrmLumenFold2Splash(QWidget* parent = nullptr);
  ~TfrmLumenFold2Splash() override;

  // Creates the window, sets the version text, shows it modally and frees it when it closes.
  // The program entry passes aboutMode false, the About command true.
  static void ShowSplash(QWidget* owner, bool aboutMode);
  // "Version: %d.%d.%d.%d.\r\nSpecial build: %s." from the program's version and special build.
  static QString VersionText();
  // Four version numbers from a dotted text ("2.0.0" gives 2, 0, 0, 0).
  static void ParseVersion(const QString& text, int numbers[4]);

  bool AboutMode() const { return aboutMode_; }
  void SetAboutMode(bool value) { aboutMode_ = value; }
  // Sets lblVersion (CR LF breaks shown as line breaks).
  void SetVersionText(const QString& text);
  int TickCount() const { return tickCount_; }
  bool MayClose() const { return mayClose_; }

  void done(int result) override;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void onTick();
  void dismiss();

  std::unique_ptr<Ui::frmLumenFold2Splash> ui;
  QTimer* mainTimer = nullptr;
  bool aboutMode_ = false;
  int tickCount_ = 0;
  bool mayClose_ = false;
};
