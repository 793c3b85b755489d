#pragma once
// The stages a processing run reports, and what a run could not do.
//
// Threads: values; any thread.
#include "util/lumenfolderror.h"

#include <QString>
#include <QStringList>

// An error that ends the run; its text is the reason shown to the user.
class TRunError : public TLumenfoldError {
public:
  using TLumenfoldError::TLumenfoldError;
};

// Stage codes of the progress messages.
enum TProcessStage : int {
  psHash = 0,
  psLoad = 1,
  psLarge = 2,
  psMedium = 3,
  psThumb = 4,
  psDatabase = 5,
  psZipPictures = 6,
  psZipDatabase = 7,
  psZipTemplate = 8,
};
// "getting hash and size of the file", "loading picture", ... ; empty outside 0..8.
QString ProcessStageText(int stage);

// What a run could not do; the closing report lists the counts that are not zero after
// "Processing finished successfully.".
struct TProcessReport {
  int MissingOriginals = 0;     // originals not found (skipped)
  QStringList MissingFiles;     // their paths, in the order they were found missing
  int IrregularOriginals = 0;   // originals that are no regular file, e.g. a device (skipped)
  int UnreadableOriginals = 0;  // originals that cannot be read, e.g. no permission (skipped)
  int UndecodableOriginals = 0; // originals that cannot be decoded (skipped, still modified)
  // Pictures not used (skipped, still modified): a stored name that cannot name a file of the
  // album folder, or image names too long for the file system.
  int RefusedOriginals = 0;
  int DamagedOriginals = 0;    // decoded with warnings: truncated or corrupt data
  int BadSignatureImages = 0;  // signature images missing or undecodable (stamped without)
  int MissingArchiveFiles = 0; // published files that were not there to be packed
  int RefusedFiles = 0;        // pictures' files not used: no regular JPEG file, or a link out
  QStringList Reasons;         // why originals were skipped, the first few, naming the file
  int MoreReasons = 0;         // reasons beyond those kept
  bool IsClean() const {
    return MissingOriginals == 0 && IrregularOriginals == 0 && UnreadableOriginals == 0 &&
           UndecodableOriginals == 0 && RefusedOriginals == 0 && DamagedOriginals == 0 &&
           BadSignatureImages == 0 && MissingArchiveFiles == 0 && RefusedFiles == 0;
  }
  // Keeps the reason when fewer than ten are kept, else counts it in MoreReasons.
  void AddReason(const QString& reason);
  // One line per count that is not zero, for example "2 original pictures were not found.";
  // the missing originals' paths follow their line, one each (the first 50); then the reasons
  // kept and "and N more." for those that were not.
  QStringList Lines() const;
};

// "Processing finished successfully." / "Processing was terminated and finished."
QString ProcessFinishedText();
QString ProcessTerminatedText();
