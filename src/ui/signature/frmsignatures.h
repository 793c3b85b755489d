#pragma once
// "Signatures": edits the project's signatures (names and placements of items) on a working copy
// linked to the project's items, with a live preview; OK writes the differences into the project
// and its database (ApplySignatureEdits). After the item editor returns, the working copy is
// linked again and loses placements of items deleted there, so nothing points at a freed item.
//
// Threads: user-interface thread only.
#include "core/signature.h"
#include "ui/common/workingcopydialog.h"

#include <functional>
#include <memory>

namespace Ui {
class frmSignatures;
}
class TLumenfoldProject;
class TfrmSignatureItems;

class TfrmSignatures : public TWorkingCopyDialog<TLumenfoldSignatureList> {
  Q_OBJECT
public:
  explicit TfrmSignatures(QWidget* parent = nullptr);
  ~TfrmSignatures() override;

  // Sets the project and copies its signatures into the working list, linked to its items.
  void SetProject(TLumenfoldProject* project);
  QImage Preview() const { return preview_; }
  // Tests reach the item editor while it is open through this hook (called before it is shown).
  void SetItemEditorHook(std::function<void(TfrmSignatureItems&)> hook) { hook_ = std::move(hook); }

  void accept() override;

protected:
  void FirstShow() override;
  void resizeEvent(QResizeEvent* event) override;

private:
  TLumenfoldSignature* current() const;
  TLumenfoldSignatureMap* currentMap() const;
  TLumenfoldSignatureItem* currentItem() const;
  void refresh();
  void showSignature();
  void showPlacement();
  void writePlacement();
  void writeName();
  void add();
  void remove();
  void place();
  // Moves the current placement step places up (negative) or down in the drawing order.
  void movePlacement(int step);
  void removePlacement();
  void editItems();
  void applyEnableRules();
  void drawPreview();

  std::unique_ptr<Ui::frmSignatures> ui;
  TLumenfoldProject* project_ = nullptr;
  std::function<void(TfrmSignatureItems&)> hook_;
  QImage preview_;
};
