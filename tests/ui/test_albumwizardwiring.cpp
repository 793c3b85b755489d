// The album wizard opened by the main window's commands: its signature and category pages use
// the shared choosers and its pictures page the picture dialog; what they change reaches the
// album's pictures and the database in add and edit mode, a cancelled edit changes nothing, and
// "Process after closing" processes the album.
#include "mainwindowtest.h"
#include "uitesthelpers.h"

#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "db/sqlaccess.h"
#include "ui/common/filedialogs.h"
#include "ui/mainwindow/frmmain.h"
#include "ui/album/frmnewalbum.h"
#include "ui/picture/frmpicturedetail.h"
#include "ui/processing/frmprocessselection.h"
#include "ui/category/frmselectcategory.h"
#include "ui/signature/frmselectsignature.h"
#include "ui/mainwindow/mainactions.h"
#include "ui/photolist/photolistview.h"
#include "ui/common/uiresources.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <functional>

namespace {

// What a walk through the wizard does on the way.
struct TWalk {
  QString title;          // typed into the picture dialog of the first picture
  int signatureRow = -1;  // row of both signature lists chosen for all pictures
  int categoryState = -1; // check state given to the first category for all pictures
  bool process = false;   // "Process after closing"
  bool cancel = false;    // Cancel on the summary page instead of Close
  bool ok = true;         // every step went as expected
};

} // namespace

class TestAlbumWizardWiring : public TMainWindowTest {
  Q_OBJECT
  // A category and a signature in the project's database and lists.
  static void addCategoryAndSignature(TLumenfoldProject& project, int* categoryId,
                                      int* signatureId) {
    auto* category = new TLumenfoldCategory;
    category->Title = QStringLiteral("Harbours");
    QVERIFY(category->Insert());
    project.Categories.Add(category->Title, category);
    *categoryId = category->Id;
    auto* signature = new TLumenfoldSignature(QStringLiteral("Corner"), &project.SignatureItems);
    QVERIFY(signature->Insert());
    project.Signatures.Add(signature->Name, signature);
    *signatureId = signature->Id;
  }

  // Walks an open wizard from the welcome page to the end, using the shared dialogs on the way.
  static void walk(TfrmNewAlbum* d, TWalk* how) {
    how->ok = false;
    click(d, "bbnNext"); // welcome
    if (d->AddMode()) click(d, "bbnPath");
    click(d, "bbnNext"); // path
    click(d, "bbnNext"); // details
    QCOMPARE(d->PageIndex(), int(TfrmNewAlbum::pgPictures));
    QTRY_VERIFY_WITH_TIMEOUT(!d->ThumbnailLoader(), 20000);
    auto* thumbs = child<TphotoListView>(d, "lvwThumbs");
    if (!how->title.isNull()) {
      DialogHandler<TfrmPictureDetail> edit([how](TfrmPictureDetail* p) {
        child<QLineEdit>(p, "edtTitle")->setText(how->title);
        click(p, "bbnOk");
      });
      emit thumbs->ItemDoubleClicked(0);
      QCOMPARE(edit.count, 1);
    }
    const auto onward = [d] {
      click(d, child<QPushButton>(d, "bbnNext")->isEnabled() ? "bbnNext" : "bbnSkip");
    };
    onward(); // pictures
    onward(); // face
    onward(); // rename
    QCOMPARE(d->PageIndex(), int(TfrmNewAlbum::pgSignature));
    if (how->signatureRow >= 0) {
      const int row = how->signatureRow;
      DialogHandler<TfrmSelectSignature> sign([row](TfrmSelectSignature* s) {
        child<QListWidget>(s, "lbxThumbSign")->setCurrentRow(row);
        child<QListWidget>(s, "lbxMediumSign")->setCurrentRow(row);
        click(s, "bbnOk");
      });
      QVERIFY(child<QPushButton>(d, "bbnSignAll")->isEnabled());
      click(d, "bbnSignAll");
      QCOMPARE(sign.count, 1);
    }
    onward();
    QCOMPARE(d->PageIndex(), int(TfrmNewAlbum::pgCategory));
    if (how->categoryState >= 0) {
      const auto state = Qt::CheckState(how->categoryState);
      DialogHandler<TfrmSelectCategory> assign([state](TfrmSelectCategory* s) {
        child<QListWidget>(s, "lbxCategories")->item(0)->setCheckState(state);
        click(s, "bbnOk");
      });
      QVERIFY(child<QPushButton>(d, "bbnAssignCategoryAll")->isEnabled());
      click(d, "bbnAssignCategoryAll");
      QCOMPARE(assign.count, 1);
    }
    onward();
    QCOMPARE(d->PageIndex(), int(TfrmNewAlbum::pgSummary));
    child<QCheckBox>(d, "cbxProcess")->setChecked(how->process);
    how->ok = true;
    click(d, how->cancel ? "bbnCancel" : "bbnNext");
  }

  // Rows of the database: pictures with the title, with the thumbnail and the medium signature,
  // and category links.
  static QList<int> rows(const QString& title, int signatureId) {
    return {queryInt(QStringLiteral("SELECT COUNT(*) FROM picture WHERE title='%1'").arg(title)),
            queryInt(QStringLiteral("SELECT COUNT(*) FROM picture WHERE thumb_signature_id=%1 "
                                    "AND medium_signature_id=%1")
                         .arg(signatureId)),
            queryInt(QStringLiteral("SELECT COUNT(*) FROM picture_to_category"))};
  }

private slots:
  void initTestCase() { InitUiResources(); }

  void init() {
    prompt.clear();
    prompt.answer = true;
  }

  void cleanup() { SetBrowseFolderHook(nullptr); }

  void sharedDialogsReachTheAlbumInAddAndEditMode() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    TLumenfoldProject* project = w.Project();
    int categoryId = -1, signatureId = -1;
    addCategoryAndSignature(*project, &categoryId, &signatureId);
    const QString folder = makeAlbumFolder(3, 48, 32);
    SetBrowseFolderHook([folder](const QString&, const QString&) { return folder; });

    // Add: a title, the signature (row 1 after "<no signature>") and the category for all.
    TWalk add;
    add.title = QStringLiteral("Sunset");
    add.signatureRow = 1;
    add.categoryState = Qt::Checked;
    {
      DialogHandler<TfrmNewAlbum> wizard([&add](TfrmNewAlbum* d) { walk(d, &add); });
      w.Actions().actAddAlbum->trigger();
      QCOMPARE(wizard.count, 1);
    }
    QVERIFY(add.ok);
    QCOMPARE(project->Albums.Count(), 1);
    TLumenfoldAlbum* album = project->Albums.Albums(0);
    QCOMPARE(album->Pictures.Count(), 3);
    QCOMPARE(album->Pictures.Pictures(0)->Title, QStringLiteral("Sunset"));
    const QStringList category{QString::number(categoryId)};
    for (int i = 0; i < 3; ++i) {
      const TLumenfoldPicture* p = album->Pictures.Pictures(i);
      QCOMPARE(p->Album, album);
      QCOMPARE(p->ThumbSignatureId, signatureId);
      QCOMPARE(p->MediumSignatureId, signatureId);
      QCOMPARE(p->CategoryIds, category);
      QVERIFY(p->Modified);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000);
    QVERIFY(w.SaveCurrentProject());
    QCOMPARE(rows("Sunset", signatureId), QList<int>({1, 3, 3}));

    // Edit, cancelled: another title, no signature, no category; nothing of it stays.
    TWalk edit;
    edit.title = QStringLiteral("Harbour");
    edit.signatureRow = 0;
    edit.categoryState = Qt::Unchecked;
    edit.cancel = true;
    {
      DialogHandler<TfrmNewAlbum> wizard([&edit](TfrmNewAlbum* d) { walk(d, &edit); });
      w.Actions().actEditAlbum->trigger();
      QCOMPARE(wizard.count, 1);
    }
    QVERIFY(edit.ok);
    QCOMPARE(w.CurrentAlbum(), album);
    QCOMPARE(album->Pictures.Pictures(0)->Title, QStringLiteral("Sunset"));
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(album->Pictures.Pictures(i)->ThumbSignatureId, signatureId);
      QCOMPARE(album->Pictures.Pictures(i)->CategoryIds, category);
      QVERIFY(!album->Pictures.Pictures(i)->Dirty);
    }
    QVERIFY(!project->Modified);
    QCOMPARE(rows("Sunset", signatureId), QList<int>({1, 3, 3}));
    QCOMPARE(rows("Harbour", -1), QList<int>({0, 0, 3}));

    // The same edit with Close: the album has it, and the database after the save.
    edit.cancel = false;
    {
      DialogHandler<TfrmNewAlbum> wizard([&edit](TfrmNewAlbum* d) { walk(d, &edit); });
      w.Actions().actEditAlbum->trigger();
      QCOMPARE(wizard.count, 1);
    }
    QVERIFY(edit.ok);
    album = w.CurrentAlbum();
    QCOMPARE(album->Pictures.Pictures(0)->Title, QStringLiteral("Harbour"));
    for (int i = 0; i < 3; ++i) {
      const TLumenfoldPicture* p = album->Pictures.Pictures(i);
      QCOMPARE(p->Album, album);
      QCOMPARE(p->ThumbSignatureId, -1);
      QCOMPARE(p->MediumSignatureId, -1);
      QVERIFY(p->CategoryIds.isEmpty());
    }
    QVERIFY(project->Modified);
    QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000);
    QVERIFY(w.SaveCurrentProject());
    QCOMPARE(rows("Harbour", -1), QList<int>({1, 3, 0}));

    // Looking through the album and closing the wizard without a change is no edit.
    TWalk look;
    DialogHandler<TfrmNewAlbum> wizard([&look](TfrmNewAlbum* d) { walk(d, &look); });
    w.Actions().actEditAlbum->trigger();
    QVERIFY(look.ok);
    QVERIFY(!project->Modified);
  }

  void processAfterClosing() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(2, 48, 32);
    SetBrowseFolderHook([folder](const QString&, const QString&) { return folder; });
    TBoxAnswerer answer(QMessageBox::Ok);
    DialogHandler<TfrmProcessSelection> selection([](TfrmProcessSelection* d) {
      // The album's new pictures are the modified ones the run takes.
      QVERIFY(d->AllModifiedMode());
      click(d, "bbnOk");
    });

    // Cancelled with the box ticked: nothing runs.
    TWalk cancelled;
    cancelled.process = true;
    cancelled.cancel = true;
    {
      DialogHandler<TfrmNewAlbum> wizard([&](TfrmNewAlbum* d) { walk(d, &cancelled); });
      w.Actions().actAddAlbum->trigger();
      QCOMPARE(wizard.count, 1);
    }
    QVERIFY(cancelled.ok);
    QCOMPARE(selection.count, 0);
    QCOMPARE(w.Project()->Albums.Count(), 0);

    TWalk closed;
    closed.process = true;
    {
      DialogHandler<TfrmNewAlbum> wizard([&](TfrmNewAlbum* d) { walk(d, &closed); });
      w.Actions().actAddAlbum->trigger();
      QCOMPARE(wizard.count, 1);
    }
    QVERIFY(closed.ok);
    QVERIFY(w.Project()->ProcessAfterWizard);
    QCOMPARE(selection.count, 1);
    QCOMPARE(answer.texts, QStringList({"Processing finished successfully."}));
    for (const char* file : {"/ps_medium/m_pic00.jpg", "/ps_medium/m_pic01.jpg",
                             "/ps_thumb/tn_pic00.jpg", "/ps_thumb/tn_pic01.jpg"})
      QVERIFY2(QFileInfo::exists(folder + QLatin1String(file)), file);
    TLumenfoldAlbum* album = w.Project()->Albums.Albums(0);
    for (int i = 0; i < album->Pictures.Count(); ++i)
      QVERIFY(!album->Pictures.Pictures(i)->Modified);
    QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000);
  }
};

QTEST_MAIN(TestAlbumWizardWiring)
#include "test_albumwizardwiring.moc"
