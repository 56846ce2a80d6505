// Shared set-up for the backup and synchronise tests of the full build: the
// machines of copy_machine.h with MAPI initialised through the facade, and a
// progress function that counts.
#pragma once

#include "facade/OutlookFacade.h"
#include "facade/copy_machine.h"

namespace testing_support {
namespace copying {

// Counts the steps and remembers the maximum; cancels from step cancelAt on.
struct ProgressCount {
  ULONG steps = 0;
  ULONG max = 0;
  ULONG calls = 0;
  ULONG cancelAt = 0;
  static int OnStep(ULONG current, ULONG max, void* context) {
    auto* self = static_cast<ProgressCount*>(context);
    self->steps = current;
    self->max = max;
    ++self->calls;
    return self->cancelAt && current >= self->cancelAt ? 1 : 0;
  }
  void AttachTo(COutlookFacade& facade) {
    CALLBACKDATAS data = {CALLBACK_TYPE_FUNCTION, reinterpret_cast<UINT_PTR>(&OnStep), 0};
    facade.SetCallBack(data, this);
  }
};

class CopyTest : public CopyMachine {
 protected:
  void SetUp() override {
    CopyMachine::SetUp();
    ASSERT_EQ(COutlookFacade::Init(0), 1);
    initialised_ = true;
  }
  void TearDown() override {
    if (initialised_) COutlookFacade::Term();
    CopyMachine::TearDown();
  }

 private:
  bool initialised_ = false;
};

}  // namespace copying
}  // namespace testing_support
