#pragma once
// "Signature items": edits the project's signature items (text in a font and colour, or an image
// file with a transparent colour) on a working copy; OK writes the differences into the project
// and its database (ApplyItemEdits).
//
// Threads: user-interface thread only.
#include "core/signature.h"
#include "ui/common/workingcopydialog.h"

#include <QFont>
#include <memory>

namespace Ui {
class frmSignatureItems;
}
class QMenu;
class TLumenfoldProject;

// The named colours offered for transparency and how colours read in the font description.
struct TNamedColor {
  const char* Name;
  int Value; // 0x00BBGGRR
};
const QList<TNamedColor>& NamedColors();
// "clBlack" for a named colour, otherwise "$00BBGGRR".
QString ColorToText(int color);
// The font description: "name; size; colour; style".
QString FontDescription(const QString& name, int points, int color, TFontStyles style);

class TfrmSignatureItems : public TWorkingCopyDialog<TLumenfoldSignatureItemList> {
  Q_OBJECT
public:
  explicit TfrmSignatureItems(QWidget* parent = nullptr);
  ~TfrmSignatureItems() override;

  // Sets the project and copies its items into the working list.
  void SetProject(TLumenfoldProject* project);
  // What accepting the font and colour dialogs does: the font holder takes them and the current
  // text item gets them.
  void SetItemFont(const QFont& font, int color);
  // The macro menu (seventeen entries, each appending its macro to the caption).
  QMenu* MacroMenu() const { return macroMenu_; }
  // The current preview.
  QImage Preview() const { return preview_; }

  void accept() override;

protected:
  void FirstShow() override;
  void resizeEvent(QResizeEvent* event) override;

private:
  TLumenfoldSignatureItem* current() const;
  void showItem();
  void kindStep();
  void writeName();
  void writeCaption();
  void writeImage();
  void chooseFont();
  void chooseColor();
  void chooseImage();
  void add();
  void remove();
  void applyEnableRules();
  void drawPreview();
  void showFontDescription();

  std::unique_ptr<Ui::frmSignatureItems> ui;
  TLumenfoldProject* project_ = nullptr;
  QMenu* macroMenu_ = nullptr;
  QImage preview_;
  // The font holder: what text items receive.
  QString fontName_ = QStringLiteral("Tahoma");
  int fontSize_ = 8;
  TFontStyles fontStyle_ = TFontStyle::fsBold;
  int fontColor_ = 0;
};
