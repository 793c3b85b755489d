#include "ui/common/placeholderfields.h"

#include "core/defaulttexts.h"

#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

namespace {

class TPlaceholderSelector : public QObject {
public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() != QEvent::FocusIn) return false;
    // Selected after the event: a mouse press that gave the focus places the cursor first.
    QPointer<QObject> target(watched);
    QTimer::singleShot(0, this, [target] {
      if (auto* line = qobject_cast<QLineEdit*>(target.data())) {
        if (line->hasFocus() && IsPlaceholderText(line->text())) line->selectAll();
      } else if (auto* plain = qobject_cast<QPlainTextEdit*>(target.data())) {
        if (plain->hasFocus() && IsPlaceholderText(plain->toPlainText())) plain->selectAll();
      }
    });
    return false;
  }
};

} // namespace

void SelectPlaceholdersOnEntry(QWidget* root) {
  auto* selector = new TPlaceholderSelector(root);
  QList<QWidget*> fields;
  for (QLineEdit* e : root->findChildren<QLineEdit*>())
    fields << e;
  for (QPlainTextEdit* e : root->findChildren<QPlainTextEdit*>())
    fields << e;
  if (qobject_cast<QLineEdit*>(root) || qobject_cast<QPlainTextEdit*>(root)) fields << root;
  for (QWidget* w : fields)
    w->installEventFilter(selector);
}
