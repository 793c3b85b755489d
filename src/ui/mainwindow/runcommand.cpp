#include "ui/mainwindow/runcommand.h"

#include "util/lumenfolderror.h"
#include "util/userprompt.h"

#include <QString>
#include <QWidget>

bool RunCommand(QWidget* parent, const std::function<void()>& command) {
  QString failure;
  try {
    command();
    return true;
  } catch (const std::exception& e) {
    failure = TextOf(e);
  } catch (...) {
    failure = QStringLiteral("Unknown error");
  }
  if (failure.isEmpty()) failure = QStringLiteral("Unknown error");
  // The box belongs to the window that ran the command; the prompt places it.
  Q_UNUSED(parent);
  Prompt()->error(failure);
  return false;
}
