#pragma once
// The program's colours: light or dark, following the system unless the user chose one in
// Options. Every window uses the Fusion style with the chosen palette, so the pictures sit on
// neutral colours in both.
//
// "Follow the system" reads the platform's own palette as it was before the program changed
// anything (a dark desktop theme gives a dark window colour) and the GTK_THEME variable's
// ":dark" variant.
//
// The choice is kept in the settings store under "Software/Kelm/LumenFold/2.0/View/ColourScheme"
// ("system", "light" or "dark").
//
// Threads: user-interface thread only.
#include <QPalette>
#include <QString>

enum class TColourScheme { System, Light, Dark };

TColourScheme StoredColourScheme();
void StoreColourScheme(TColourScheme scheme);
// True when the scheme, resolved against the system, is dark.
bool ColourSchemeIsDark(TColourScheme scheme);
// Sets the Fusion style (once) and the palette of the scheme on the application.
void ApplyColourScheme(TColourScheme scheme);
// The palettes themselves.
QPalette DarkPalette();
QPalette LightPalette();
// The two text colours of notes ("fine" navy, "problem" maroon), made lighter on a dark palette
// so that they stay readable.
QColor NoteColour(const QPalette& palette, bool problem);
// The same as a style sheet for a label.
QString NoteStyleSheet(const QPalette& palette, bool problem);
