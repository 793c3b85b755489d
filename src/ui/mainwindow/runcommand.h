#pragma once
// Runs one command of the user interface and shows its failure instead of letting it escape into
// the event loop: a model error (TLumenfoldError) or any other exception becomes one error box
// through the prompt. Commands therefore contain no catch blocks of their own.
//
// Threads: user-interface thread only.
#include <functional>

class QWidget;

// True when the command ran to its end; false when it failed (the failure has been shown).
bool RunCommand(QWidget* parent, const std::function<void()>& command);
