// TPortWatch: the thread that waits for a lost port to come back.
#include "bus/PortWatch.h"

#include <algorithm>

bool TPathEvents::TIdentity::HasNewLink(const TIdentity& lost) const {
  for (const TLink& link : Links)
    if (std::find(lost.Links.begin(), lost.Links.end(), link) == lost.Links.end()) return true;
  return false;
}

TPortWatch::TPortWatch(std::function<void()> onCheck) : FOnCheck(std::move(onCheck)) {}

TPortWatch::~TPortWatch() { Stop(); }

void TPortWatch::Start(const std::string& path, const TPathEvents::TIdentity& lost) {
  Stop();
  FStop = false;
  FCheckDue = false;
  FEvents = std::make_unique<TPathEvents>();
  FEvents->SetLookHook(FLookHook);
  FThread = std::thread([this, path, lost] { Run(path, lost); });
}

void TPortWatch::Stop() {
  FStop = true;
  if (FEvents) FEvents->Wake();
  if (FThread.joinable()) FThread.join();
  FEvents.reset();  // its descriptors go with the wait
}

void TPortWatch::Run(std::string path, TPathEvents::TIdentity lost) {
  TPathEvents::NameThisThread();
  while (!FStop) {
    FEvents->Follow(path);  // before the check, so that no change slips in between
    bool exists = TPathEvents::Exists(path);
    if (exists && lost.Terminal) {
      // Only a link made anew leads to a pseudo-terminal meant for us.
      exists = TPathEvents::IdentityOf(path).HasNewLink(lost);
    }
    if (exists) {
      FCheckDue = true;
      if (FOnCheck) FOnCheck();
    }
    // A name that exists but did not open (busy, permissions being set) is
    // tried again after a pause; a missing one when it appears, and now and
    // then in case a change went unnoticed.
    FEvents->Wait(exists || !FEvents->Watching() ? kRecheckMs : FMissingRecheckMs);
  }
}
