#include "support/AutoMutex.h"

#include "support/Log.h"

OManualMutex::~OManualMutex() {
  if (m_hMutex) {
    // Fails only when the wait did not give us the mutex; nothing to undo then.
    ReleaseMutex(m_hMutex);
    CloseHandle(m_hMutex);
    m_hMutex = nullptr;
  }
}

DWORD AutoMutex::Acquire() {
  m_hMutex = CreateMutexW(nullptr, FALSE, OPERATION_MUTEX_NAME);
  if (!m_hMutex) {
    LogMessageAt(LOG_ERROR, TEXT(".\\AutoMutex"), 15, TEXT("Create mutex failed.error:%d"), GetLastError());
    return 1;
  }
  DWORD result = WaitForSingleObject(m_hMutex, INFINITE);
  if (result == WAIT_OBJECT_0) return 0;
  LogMessageAt(LOG_ERROR, TEXT(".\\AutoMutex"), 28, TEXT("WaitForSingleObject FAILED. result:%d"), result);
  return 1;
}
