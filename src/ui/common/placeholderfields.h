#pragma once
// Edit fields that still hold a default text ("<Long Name>", "<title>", ...): on entry, by
// keyboard or mouse, the whole text is selected, so that typing replaces it.
//
// Threads: user-interface thread only.
class QWidget;

// Watches every line and plain-text edit inside root (root included).
void SelectPlaceholdersOnEntry(QWidget* root);
