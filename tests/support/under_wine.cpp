// Apart from the other helpers: windows.h names macros after platform
// operations (DeleteFile, MoveFile) that the other helpers call.
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace plf::test {

bool UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace plf::test
