#pragma once
// "Select signature": one signature for thumbnails and one for large and medium images, given to
// a set of pictures on OK. When the pictures do not all have the same signature, the list offers
// "<keep each picture's signature>" and starts on it, so OK changes only what the user chose.
// Only pictures whose signature ids change are marked to be processed again.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <QList>
#include <functional>
#include <memory>

namespace Ui {
class frmSelectSignature;
}
class QLabel;
class QListWidget;
class TLumenfoldPicture;
class TLumenfoldProject;
class TfrmSignatures;

class TfrmSelectSignature : public TPlacedDialog {
  Q_OBJECT
public:
  explicit TfrmSelectSignature(QWidget* parent = nullptr);
  ~TfrmSelectSignature() override;

  // Ids carried by the list entries besides signature ids.
  static constexpr int kNoSignature = -1;
  static constexpr int kKeepEach = -2;
  static const char* const kKeepEachText; // "<keep each picture's signature>"

  void SetProject(TLumenfoldProject* project);
  void AddPicture(TLumenfoldPicture* picture);
  // The id chosen in the thumbnail or the large/medium list (kNoSignature, kKeepEach or an id).
  int ThumbChoice() const;
  int MediumChoice() const;
  // Tests reach the signature editor while it is open through this hook.
  void SetEditorHook(std::function<void(TfrmSignatures&)> hook) { hook_ = std::move(hook); }

  void accept() override;

protected:
  void FirstShow() override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void fillList(QListWidget* list, int chosen, bool mixed);
  void fillLists(int thumb, int medium);
  void drawPreview(QListWidget* list, QLabel* image);
  void editSignatures();

  std::unique_ptr<Ui::frmSelectSignature> ui;
  TLumenfoldProject* project_ = nullptr;
  QList<TLumenfoldPicture*> pictures_;
  std::function<void(TfrmSignatures&)> hook_;
  bool thumbMixed_ = false, mediumMixed_ = false;
};
