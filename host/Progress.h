// Progress of one operation, fed by the library's function sink: a bar on a
// terminal, plain lines otherwise, nothing with --quiet. Ctrl-C cancels through
// the same sink: the library stops after the message in hand.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "Host.h"

namespace host {

class Progress {
 public:
  enum class Mode { kBar, kLines, kSilent };
  // label names the operation in every line ("backup", "sync").
  explicit Progress(std::string label);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Makes this object the facade's progress sink.
  void Attach(COutlookFacade& facade);
  // Ends the bar's line; further steps are not shown. complete: the
  // operation succeeded, so the last line says so even where items already
  // in place made no step.
  void Finish(bool complete = false);

  ULONG Done() const { return done_; }
  ULONG Planned() const { return planned_; }
  double Seconds() const;
  Mode mode() const { return mode_; }

 private:
  static int OnStep(ULONG current, ULONG max, void* context);
  int Step(ULONG current, ULONG max);
  void Draw(bool force, bool complete = false);
  std::string Figures(bool complete) const;

  std::string label_;
  Mode mode_;
  FILE* stream_;
  bool unicode_ = false;
  ULONG done_ = 0;
  ULONG planned_ = 0;
  int lastPercent_ = -1;
  bool drawn_ = false;
  bool finished_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

// While it lives, the first Ctrl-C asks the running operation to cancel and a
// second one ends the program at once.
class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  bool installed_ = false;
};

// True once Ctrl-C was pressed.
bool Interrupted();

}  // namespace host
