// The engine record's lifecycle, its events and the prompt channel.
#include "engine/torvel.h"

TTorvel::~TTorvel() {
  CloseOutFile(*this);
  CloseInFile(*this);
}

void Init(TTorvel& S) {
  S.ErrorText.clear();
  S.InOpen = false;
  S.OutOpen = false;
  S.ForceBigTiff = false;
}

void DoShowError(TTorvel& S, const std::string& Msg) {
  if (S.OnShowError) S.OnShowError(Msg);
}

void DoShowStatus(TTorvel& S, const std::string& Msg) {
  if (S.OnShowStatus) S.OnShowStatus(Msg);
}

void DoShowProgress(TTorvel& S, int32_t Max, const std::string& Desc) {
  if (S.OnShowProgress) S.OnShowProgress(Max, Desc);
}

void DoUpdateProgress(TTorvel& S, int32_t Current) {
  if (S.OnUpdateProgress) S.OnUpdateProgress(Current);
}

void DoHideProgress(TTorvel& S) {
  if (S.OnHideProgress) S.OnHideProgress();
}

void ShowMessage(TTorvel& S, const std::string& Msg) {
  if (S.Prompt) S.Prompt->Message(Msg);
}

void ShowErrorBox(TTorvel& S, const std::string& Msg) {
  if (S.Prompt) S.Prompt->Error(Msg);
}

bool AskYesNo(TTorvel& S, const std::string& Question) {
  return S.Prompt && S.Prompt->AskYesNo(Question);
}

void FailRun(TTorvel& S, const std::string& Msg) {
  DoShowError(S, Msg);
  S.Abort = true;
}

bool OpenInputForRun(TTorvel& S) {
  if (OpenInFile(S, S.InInfo.FileName)) return true;
  FailRun(S, "Error opening input file");
  CloseInFile(S);
  return false;
}
