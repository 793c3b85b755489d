#pragma once
// The per-user settings store and window placement.
//
// Every part of the program reaches the store through LumenfoldSettings(): one INI file,
// "<config folder>/Kelm/LumenFold2.ini", where the config folder is the platform's generic
// configuration location (on Linux $XDG_CONFIG_HOME, else ~/.config). The path is worked out
// again on every call, so a test that points XDG_CONFIG_HOME at a temporary folder gets its own
// store. Keys keep their documented names with '/' separators, for example
// "Software/Kelm/LumenFold/2.0/frmMain/Position/Top".
//
// Threads: user-interface thread only (placement needs widgets; the store itself is only used
// there).
#include <QPoint>
#include <QSize>
#include <QString>
#include <memory>

class QSettings;
class QWidget;

// Root key of the program's settings.
inline constexpr const char* kSettingsRoot = "Software/Kelm/LumenFold/2.0";

// Full path of the settings file.
QString LumenfoldSettingsFile();
// A settings object on that file (INI format).
std::unique_ptr<QSettings> LumenfoldSettings();
// Key of a window: the root followed by the form's object name ("frmOptions").
QString FormSettingsKey(const QString& formName);

// Stores "Restore" (maximised) and the normal-state "Top", "Left", "Width", "Heigth" under
// key + "/Position". A '\' in the key counts as '/'. False on any failure; nothing is reported.
bool SaveFormPlacement(QWidget* window, const QString& key);
// Restores the placement: values missing from the store take the defaults; a width above the
// screen's width or below 70 becomes the screen's width (the same for the height); a left below
// -10 or beyond the desktop becomes 0 (the same for the top); "Restore" maximises. False on any
// failure, leaving the window as it was.
bool LoadFormPlacement(QWidget* window, const QString& key, QPoint defaultPos, QSize defaultSize);
// Centres the window on the primary screen.
void CenterFormOnScreen(QWidget* window);
// What every dialog does when it is shown: restore the placement of its form key with the
// default position (-1, -1) and the given design size, then centre it when its top is still -1.
void RestoreDialogPlacement(QWidget* window, const QString& formName, QSize designSize);
