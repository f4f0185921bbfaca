// TPathEvents for Windows: no change notices for COM ports (they are no
// files in a folder), so the watch checks the name every kRecheckMs; a wake
// event ends a wait at once.  Every platform call of the port watch is here.
#include <windows.h>

#include <string>

#include "base/WideText.h"
#include "bus/PortWatch.h"

namespace {

// "\\.\COM3" and the like: the device namespace, where QueryDosDevice tells
// whether the name is there now (a USB adapter that is plugged in).
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";

}  // namespace

struct TPathEvents::TImpl {
  HANDLE Wake = nullptr;  // auto reset
};

TPathEvents::TPathEvents() : FImpl(std::make_unique<TImpl>()) {
  FImpl->Wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

TPathEvents::~TPathEvents() {
  if (FImpl->Wake) CloseHandle(FImpl->Wake);
}

void TPathEvents::Follow(const std::string&) {}

void TPathEvents::SetLookHook(std::function<void()>) {}

bool TPathEvents::Watching() const { return false; }

void TPathEvents::Wait(int timeoutMs) {
  // Without a wake event only a short pause keeps Stop prompt.
  if (!FImpl->Wake) {
    Sleep(timeoutMs < 0 || timeoutMs > 100 ? 100 : static_cast<DWORD>(timeoutMs));
    return;
  }
  WaitForSingleObject(FImpl->Wake, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
}

void TPathEvents::Wake() {
  if (FImpl->Wake) SetEvent(FImpl->Wake);
}

bool TPathEvents::Exists(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring wide = Widen(path);
  if (wide.rfind(kDevicePrefix, 0) == 0) {
    wchar_t target[1024];
    return QueryDosDeviceW(wide.c_str() + (sizeof kDevicePrefix / sizeof(wchar_t) - 1), target,
                           static_cast<DWORD>(sizeof target / sizeof target[0])) != 0;
  }
  return GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TPathEvents::NameThisThread() {}

TPathEvents::TIdentity TPathEvents::IdentityOf(const std::string&) { return {}; }
