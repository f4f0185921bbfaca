// TPortWatch: the thread that waits for a lost port to come back.
#include "bus/PortWatch.h"

TPortWatch::TPortWatch(std::function<void()> onCheck) : FOnCheck(std::move(onCheck)) {}

TPortWatch::~TPortWatch() { Stop(); }

void TPortWatch::Start(const std::string& path, const TPathEvents::TIdentity& lost) {
  Stop();
  FStop = false;
  FCheckDue = false;
  FEvents = std::make_unique<TPathEvents>();
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
      const TPathEvents::TIdentity now = TPathEvents::IdentityOf(path);
      exists = now.LinkInode != 0 && !now.SameLink(lost);
    }
    if (exists) {
      FCheckDue = true;
      if (FOnCheck) FOnCheck();
    }
    // A name that exists but did not open (busy, permissions being set) is
    // tried again after a pause; a missing one only when it appears.
    FEvents->Wait(exists || !FEvents->Watching() ? kRecheckMs : -1);
  }
}
