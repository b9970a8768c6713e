#include "platform/com.h"

namespace platform {
namespace {

struct ThreadCom {
  int count = 0;
  Apartment apartment = Apartment::SingleThreaded;
};

ThreadCom& ThisThread() {
  thread_local ThreadCom com;
  return com;
}

}  // namespace

HResult CoInitialize() {
  return CoInitializeEx(Apartment::SingleThreaded);
}

HResult CoInitializeEx(Apartment apartment) {
  ThreadCom& com = ThisThread();
  if (com.count == 0) {
    com.apartment = apartment;
    com.count = 1;
    return kSOk;
  }
  if (com.apartment != apartment) return kRpcEChangedMode;
  ++com.count;
  return kSFalse;
}

void CoUninitialize() {
  ThreadCom& com = ThisThread();
  if (com.count > 0) --com.count;
}

int ComInitializationCount() {
  return ThisThread().count;
}

}  // namespace platform
