// Nothing an export runs may throw into a host: a standard container or string
// that runs out of memory inside an operation turns into the operation's
// failure, after the scoped owners on the way out have given everything back.
#pragma once

#include <new>

#include "support/Log.h"

template <class Work>
auto RunWithoutThrowing(decltype(std::declval<Work&>()()) failed, Work&& work) noexcept -> decltype(work()) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    LogMessage(LOG_ERROR, TEXT("Not enough memory: the operation was stopped."));
  } catch (...) {
    LogMessage(LOG_ERROR, TEXT("An unexpected error stopped the operation."));
  }
  return failed;
}

template <class Work>
void RunWithoutThrowing(Work&& work) noexcept {
  try {
    work();
  } catch (const std::bad_alloc&) {
    LogMessage(LOG_ERROR, TEXT("Not enough memory: the operation was stopped."));
  } catch (...) {
    LogMessage(LOG_ERROR, TEXT("An unexpected error stopped the operation."));
  }
}
