// Running a copying operation of the library: its progress sink, Ctrl-C, and
// the result code it leaves in the thread's last error.
#pragma once

#include <functional>
#include <string>

#include "Host.h"

namespace host {

struct Outcome {
  bool ok = false;         // the operation returned success
  int code = 0;            // the result code left in the thread's last error
  bool cancelled = false;  // stopped by Ctrl-C
  ULONG done = 0;          // messages gone through, as the sink counted them
  ULONG planned = 0;       // messages the operation planned to go through
  double seconds = 0;
  int failedMessages = -1;  // messages the library logged as not copied; -1 without a log file
};

// Runs op (which calls one operation of the facade and returns its result)
// with the progress shown under label.
Outcome RunOperation(COutlookFacade& facade, const std::string& label, const std::function<int()>& op);

// What a finished operation's report says of its messages: "<n> <checked>,
// <s> s".
std::string MessagesText(const Outcome& outcome, const std::string& checked);

// The outcome as JSON, merged into fields.
nlohmann::json OutcomeJson(const Outcome& outcome, nlohmann::json fields);

// A failed or cancelled outcome becomes the error the program ends with;
// what names the operation ("backup of Mail").
void ThrowUnlessOk(const Outcome& outcome, const std::string& what);

}  // namespace host
