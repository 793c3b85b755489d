#include "ui/runcommand.h"

#include "db/lumenfolderror.h"
#include "db/userprompt.h"

#include <QString>
#include <QWidget>

bool RunCommand(QWidget* parent, const std::function<void()>& command) {
  QString failure;
  try {
    command();
    return true;
  } catch (const TLumenfoldError& e) {
    failure = e.message();
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
  } catch (...) {
    failure = QStringLiteral("Unknown error");
  }
  if (failure.isEmpty()) failure = QStringLiteral("Unknown error");
  // The box belongs to the window that ran the command; the prompt places it.
  Q_UNUSED(parent);
  Prompt()->error(failure);
  return false;
}
