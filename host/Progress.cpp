#include "Progress.h"

#include "Library.h"

#include <atomic>

namespace host {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt() {
  g_interrupted = true;
  static const char note[] = "\ncorvane: cancelling after the message in hand (Ctrl-C again stops at once)\n";
  WriteErrorNow(note, sizeof note - 1);
}

std::string Duration(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  if (s < 60) return std::to_string(s) + " s";
  return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
}

}  // namespace

bool Interrupted() { return g_interrupted; }

InterruptScope::InterruptScope() { installed_ = CatchInterrupts(OnInterrupt); }

InterruptScope::~InterruptScope() {
  if (installed_) ReleaseInterrupts();
}

Progress::Progress(std::string label) : label_(std::move(label)) {
  const Options& options = GlobalOptions();
  // JSON owns standard output; progress then goes to standard error.
  stream_ = options.json ? stderr : stdout;
  if (options.quiet)
    mode_ = Mode::kSilent;
  else if (IsTerminal(stream_))
    mode_ = Mode::kBar;
  else
    mode_ = Mode::kLines;
  unicode_ = TerminalShowsUtf8();
  start_ = lastDraw_ = std::chrono::steady_clock::now();
}

Progress::~Progress() { Finish(); }

void Progress::Attach(COutlookFacade& facade) {
  AttachProgressSink(facade, &Progress::OnStep, this);
}

double Progress::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

int Progress::OnStep(ULONG current, ULONG max, void* context) {
  return static_cast<Progress*>(context)->Step(current, max);
}

int Progress::Step(ULONG current, ULONG max) {
  done_ = current;
  planned_ = max;
  if (!finished_) Draw(false);
  // Non-zero asks the library to stop after this message.
  return g_interrupted ? 1 : 0;
}

std::string Progress::Figures(bool complete) const {
  // A synchronisation's second pass goes over what its first one copied, so
  // the count may outgrow the plan.
  std::string text = std::to_string(done_) + "/" + std::to_string(std::max(done_, planned_)) + " messages";
  // Every line has the same parts, so a reader can cut them by position.
  double elapsed = std::max(0.001, std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
  double rate = done_ / elapsed;
  char figure[32];
  std::snprintf(figure, sizeof figure, rate >= 100 ? "%.0f" : "%.1f", rate);
  text += ", " + std::string(figure) + " messages/s";
  if (complete) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", Seconds());
    return text + ", done in " + seconds + " s";
  }
  text += ", about " + (rate > 0 ? Duration((planned_ > done_ ? planned_ - done_ : 0) / rate) : std::string("? s")) +
          " left";
  return text;
}

void Progress::Draw(bool force, bool complete) {
  if (mode_ == Mode::kSilent) return;
  int percent = complete || !planned_ ? 100 : static_cast<int>(100.0 * std::min(done_, planned_) / planned_);
  auto now = std::chrono::steady_clock::now();
  if (mode_ == Mode::kLines) {
    // One line per step of whole percents, so a log of a long copy stays short.
    int step = std::max(1, GlobalOptions().progressLineStep);
    if (!force && lastPercent_ >= 0 && percent / step == lastPercent_ / step) return;
    lastPercent_ = percent;
    std::fprintf(stream_, "%s: %3d%% %s\n", label_.c_str(), percent, Figures(complete).c_str());
    std::fflush(stream_);
    return;
  }
  if (!force && percent == lastPercent_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastPercent_ = percent;
  lastDraw_ = now;
  const int width = 30;
  int filled = width * percent / 100;
  std::string bar;
  for (int i = 0; i < width; ++i) bar += i < filled ? (unicode_ ? "\u2588" : "#") : (unicode_ ? "\u2591" : "-");
  std::fprintf(stream_, "\r%s %s %3d%%  %s\x1b[K", label_.c_str(), bar.c_str(), percent, Figures(complete).c_str());
  std::fflush(stream_);
  drawn_ = true;
}

void Progress::Finish(bool complete) {
  if (finished_) return;
  finished_ = true;
  if (mode_ == Mode::kBar && drawn_) {
    Draw(true, complete);
    std::fputc('\n', stream_);
    std::fflush(stream_);
  } else if (mode_ == Mode::kLines && complete && lastPercent_ >= 0 && lastPercent_ < 100) {
    Draw(true, true);
  }
}

}  // namespace host
