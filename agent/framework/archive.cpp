#include "agent/framework/archive.h"

BOOL CArchive::Write(const void* data, UINT size) {
  DWORD written = 0;
  if (!IsStoring() || !::WriteFile(file_, data, size, &written, nullptr) || written != size) {
    failed_ = TRUE;
    return FALSE;
  }
  return TRUE;
}

UINT CArchive::Read(void* data, UINT size) {
  DWORD got = 0;
  if (!IsLoading() || !::ReadFile(file_, data, size, &got, nullptr)) {
    failed_ = TRUE;
    return 0;
  }
  return got;
}
