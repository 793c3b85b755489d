// Write-back of the signature item and signature editors: the project's list is reconciled
// against the edited copy and the differences are written to the database.
#include "core/signature.h"

bool ApplyItemEdits(TLumenfoldSignatureItemList& project, const TLumenfoldSignatureItemList& copy,
                    TLumenfoldSignatureList* signatures) {
  bool ok = true;
  for (int i = project.Count() - 1; i >= 0; --i) {
    TLumenfoldSignatureItem* item = project.Items(i);
    const int index = copy.IndexOfId(item->Id);
    if (index < 0) {
      if (item->Delete())
        project.Delete(i);
      else
        ok = false;
    } else if (!item->Equals(*copy.Items(index))) {
      item->Assign(*copy.Items(index));
      project.SetString(i, item->Name);
      ok = item->Update() && ok;
    }
  }
  // New objects keep the order in which the user added them, so their ids ascend with it.
  for (int i = 0; i < copy.Count(); ++i) {
    const TLumenfoldSignatureItem* source = copy.Items(i);
    if (source->Id != -1 && project.IndexOfId(source->Id) >= 0) continue;
    auto* item = new TLumenfoldSignatureItem;
    item->Assign(*source);
    item->Id = -1;
    const int index = project.Add(item->Name, item);
    if (!item->Insert()) {
      project.Delete(index);
      ok = false;
    }
  }
  if (signatures) signatures->LinkItems(&project);
  return ok;
}

bool ApplySignatureEdits(TLumenfoldSignatureList& project, const TLumenfoldSignatureList& copy,
                         TLumenfoldSignatureItemList* items) {
  bool ok = true;
  for (int i = project.Count() - 1; i >= 0; --i) {
    TLumenfoldSignature* signature = project.Signatures(i);
    const int index = copy.IndexOfId(signature->Id);
    if (index < 0) {
      // A failing delete has been shown to the user; the rest of the write-back is left undone.
      if (!signature->Delete()) return false;
      project.Delete(i);
    } else if (!signature->Equals(*copy.Signatures(index))) {
      signature->Assign(*copy.Signatures(index));
      project.SetString(i, signature->Name);
      project.LinkItems(items);
      ok = signature->Update() && ok;
    }
  }
  for (int i = 0; i < copy.Count(); ++i) {
    const TLumenfoldSignature* source = copy.Signatures(i);
    if (source->Id != -1 && project.IndexOfId(source->Id) >= 0) continue;
    auto* signature = new TLumenfoldSignature;
    signature->Assign(*source);
    signature->Id = -1;
    const int index = project.Add(signature->Name, signature);
    project.LinkItems(items);
    if (!signature->Insert()) {
      project.Delete(index);
      ok = false;
    }
  }
  return ok;
}
