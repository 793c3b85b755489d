#pragma once
// The project settings by field name, typed, for the commands that show and change them.
//
// Threads: main thread only.
#include <QJsonValue>
#include <QString>
#include <vector>

class TLumenfoldProject;

struct TSettingField {
  enum Kind { Boolean, Integer, Text, Pages };
  const char* name;
  Kind kind;
  int min = 0, max = 0; // allowed range of an integer
  QJsonValue (*get)(const TLumenfoldProject&);
  void (*set)(TLumenfoldProject&, const QJsonValue&);
  // The values of the range that are choices; null when all are.
  bool (*allowed)(int) = nullptr;
};

// Every setting stored in the project file, in file order (the marker excluded).
const std::vector<TSettingField>& SettingFields();
// The field of that exact name, or nullptr.
const TSettingField* FindSettingField(const QString& name);

// Parses a command-line value for a field: booleans true/false/1/0 (also yes/no, on/off), integers
// in decimal within the field's range (and among its choices), texts as given, the wizard pages as
// their stored text (page names run together), as a comma-separated list of page names or indexes,
// or as a number 0..511 of the page bits. Returns false with a reason when the value does not fit.
bool ParseSettingValue(const TSettingField& field, const QString& text, QJsonValue& value,
                       QString& reason);

// The value shown by the text output of `info`.
QString SettingText(const TSettingField& field, const TLumenfoldProject& project);
