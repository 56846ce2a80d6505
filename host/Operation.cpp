#include "Operation.h"

#include <algorithm>
#include <fstream>
#include <optional>

#include "Library.h"
#include "Progress.h"

namespace host {

namespace {

constexpr int kCopyFailed = 112;  // the library's result when a message or folder was not copied

// The library logs each message it could not copy with this line; those
// written after offset in the log file are counted.
int FailedMessagesLogged(const std::string& log, long long offset) {
  std::ifstream in(log, std::ios::binary);
  if (log.empty() || !in || !in.seekg(offset)) return -1;
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find("Copy message failed.") != std::string::npos) ++count;
  return count;
}

}  // namespace

Outcome RunOperation(COutlookFacade& facade, const std::string& label, const std::function<int()>& op) {
  Outcome outcome;
  const std::string log = LogFilePath();
  const long long logStart = log.empty() ? 0 : std::max(FileSize(log), 0LL);
  Progress progress(label);
  progress.Attach(facade);
  {
    // Without progress nothing can stop the library: Ctrl-C ends the program.
    std::optional<InterruptScope> interrupts;
    if constexpr (kLibraryReportsProgress) interrupts.emplace();
    // The operation sets the last error only when its copy ran; 0 before
    // tells an early refusal from a copy's result.
    SetLastError(0);
    outcome.ok = op() != 0;
    outcome.code = static_cast<int>(GetLastError());
  }
  progress.Finish(outcome.ok);
  outcome.done = progress.Done();
  outcome.planned = progress.Planned();
  outcome.seconds = progress.Seconds();
  outcome.cancelled = !outcome.ok && (outcome.code == -1 || Interrupted());
  if (!outcome.ok && outcome.code == kCopyFailed) outcome.failedMessages = FailedMessagesLogged(log, logStart);
  return outcome;
}

std::string MessagesText(const Outcome& outcome, const std::string& checked) {
  if constexpr (!kLibraryReportsProgress) return "not counted (the compact library reports no progress)";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", outcome.seconds);
  return std::to_string(outcome.done) + " " + checked + ", " + seconds + " s";
}

nlohmann::json OutcomeJson(const Outcome& outcome, nlohmann::json fields) {
  fields["ok"] = outcome.ok;
  fields["cancelled"] = outcome.cancelled;
  if constexpr (kLibraryReportsProgress) {
    fields["result"] = outcome.code;
    fields["messages"] = outcome.done;
    fields["planned"] = outcome.planned;
  } else {
    fields["result"] = fields["messages"] = fields["planned"] = nullptr;  // not reported
  }
  fields["seconds"] = outcome.seconds;
  if (!outcome.ok) fields["log"] = LogFilePath();
  if (outcome.failedMessages >= 0) fields["failed_messages"] = outcome.failedMessages;
  return fields;
}

void ThrowUnlessOk(const Outcome& outcome, const std::string& what) {
  if (outcome.ok) return;
  if (outcome.cancelled)
    throw Cancelled(what + " cancelled after " + std::to_string(outcome.done) + " of " + std::to_string(outcome.planned) +
                    " messages; what was copied stays, and the same command again finishes the rest");
  if constexpr (kCompactLibrary)
    throw OperationFailed(what + " failed; the compact library gives no result code and keeps no log (the full "
                                 "library, without --library compact, says why)");
  std::string reason = outcome.code == 0 ? "it could not start (result code 0: see the log)"
                                         : "result code " + ResultCodeText(outcome.code);
  if (outcome.failedMessages > 0)
    reason += "; " + std::to_string(outcome.failedMessages) +
              (outcome.failedMessages == 1 ? " message" : " messages") + " could not be read or copied";
  throw OperationFailed(what + " failed: " + reason + "; " + LogLocation());
}

}  // namespace host
