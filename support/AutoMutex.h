// The machine-wide operation mutex that lets one backup or synchronisation run
// at a time, across every process of the machine.
#pragma once

#include <windows.h>

#define OPERATION_MUTEX_NAME TEXT("Global\\OUTLOOKBACKUP")

class OManualMutex {
 public:
  OManualMutex() = default;
  // Releases the mutex when held and closes the handle.
  virtual ~OManualMutex();
  OManualMutex(const OManualMutex&) = delete;
  OManualMutex& operator=(const OManualMutex&) = delete;

 protected:
  HANDLE m_hMutex = nullptr;
};

class AutoMutex : public OManualMutex {
 public:
  ~AutoMutex() override = default;
  // 0 when the calling thread now owns the mutex, 1 otherwise (an abandoned
  // mutex is owned but counts as a failed wait). Called once, right after the
  // object is made.
  DWORD Acquire();
};
