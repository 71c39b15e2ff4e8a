#include "agent/framework/ole_init.h"

#include <ole2.h>

#include "agent/framework/ole_message_filter.h"

namespace {
bool g_oleInitialized = false;
}  // namespace

BOOL AfxOleInit() {
  if (g_oleInitialized) return TRUE;
  if (FAILED(OleInitialize(nullptr))) return FALSE;
  g_oleInitialized = true;
  IMessageFilter* previous = nullptr;
  if (SUCCEEDED(CoRegisterMessageFilter(&fw::TheOleMessageFilter(), &previous)) && previous) previous->Release();
  return TRUE;
}

void AfxOleTerm() {
  if (!g_oleInitialized) return;
  IMessageFilter* previous = nullptr;
  if (SUCCEEDED(CoRegisterMessageFilter(nullptr, &previous)) && previous) previous->Release();
  OleUninitialize();
  g_oleInitialized = false;
}
