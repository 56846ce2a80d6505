// Named mutexes, machine-wide per platform root.
//
// A named mutex is a pair of files below RootPath("kernel/mutex"):
//  - "<name>.lock": ownership across processes is an exclusive flock on it, so
//    the kernel drops it when the holder dies. While owned it holds an owner
//    record (process id, process start time, thread id) that a clean release
//    erases; a new owner that finds a record knows the previous owner never
//    released, and its wait reports WAIT_ABANDONED.
//  - "<name>.ref": every process with a handle holds a shared flock on it, which
//    is how "the object exists" is seen across processes (ERROR_ALREADY_EXISTS,
//    OpenMutexW). Create, open and the last close run under one namespace lock.
// The owner record outlives the object: a holder that died leaves the mutex
// abandoned for the next owner even when nobody else had it open meanwhile
// (where the platform would have destroyed the object), so a program that
// crashed holding its operation mutex is noticed by the next run.
// Inside the process one state per name is shared by all its handles. It knows
// the owning thread and the recursion count, so other threads of the process
// wait just as other processes do. Descriptors are opened close-on-exec: a
// child never inherits a lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "handles.h"
#include "internal.h"
#include "kernel.h"

using namespace standin;

namespace {

using Clock = std::chrono::steady_clock;

int Flock(int fd, int op) {
  int rc;
  do rc = flock(fd, op);
  while (rc != 0 && errno == EINTR);
  return rc;
}

Fd OpenFile(const std::string& path, int flags) {
  int fd;
  do fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  return Fd(fd);
}

// Clock ticks since boot when the process started: with the pid, it names one
// process even after the pid is reused.
std::string ProcessStartTime() {
  std::ifstream in("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t pos = stat.rfind(')');
  if (pos == std::string::npos) return "?";
  // Fields after the command: state is field 3, start time field 22.
  int field = 2;
  for (size_t i = pos + 1; i < stat.size(); ++i) {
    if (stat[i] != ' ') continue;
    if (++field == 22) return stat.substr(i + 1, stat.find(' ', i + 1) - i - 1);
  }
  return "?";
}

// A file name for an object name: safe bytes kept, the rest %-escaped; a long
// name is cut and made unique with a hash.
std::string ObjectFileBase(std::u16string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : ToUtf8(name)) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (plain || (c == '.' && !out.empty())) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (out.size() > 160) {
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (char16_t c : name) hash = (hash ^ c) * 1099511628211ull;
    char tail[20];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
    out.resize(120);
    out += tail;
  }
  return out;
}

// The object's name without its namespace prefix; false (last error set) for a
// name the platform refuses.
bool ObjectName(LPCWSTR name, std::u16string_view* out) {
  std::u16string_view n(name);
  if (n.size() >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
  for (std::u16string_view prefix : {std::u16string_view(u"Global\\"), std::u16string_view(u"Local\\")}) {
    if (n.size() >= prefix.size() && CompareNoCase(n.substr(0, prefix.size()), prefix) == 0) {
      n.remove_prefix(prefix.size());
      break;
    }
  }
  if (n.empty()) return Fail(ERROR_INVALID_NAME);
  // Further backslashes name folders of the object namespace; there are none.
  if (n.find(u'\\') != std::u16string_view::npos) return Fail(ERROR_PATH_NOT_FOUND);
  *out = n;
  return true;
}

// Held while a name is looked up, created or given up, by any process.
class NamespaceLock {
 public:
  explicit NamespaceLock(const std::string& dir) : fd_(OpenFile(dir + "/.namespace", O_RDWR | O_CREAT)) {
    if (fd_ && Flock(fd_.get(), LOCK_EX) != 0) fd_.reset();
  }
  bool held() const { return static_cast<bool>(fd_); }

 private:
  Fd fd_;
};

class MutexState;

// The mutexes a thread owns; the thread abandons them when it ends. Ownership
// does not keep an object alive: it ends with the process's last handle.
struct OwnedMutex {
  MutexState* state;  // identity only; may dangle once ref has expired
  std::weak_ptr<MutexState> ref;
};
struct OwnedMutexes {
  std::vector<OwnedMutex> held;
  ~OwnedMutexes();
};
thread_local OwnedMutexes t_owned;

class MutexState : public std::enable_shared_from_this<MutexState> {
 public:
  // An unnamed mutex: this process only.
  MutexState() = default;
  // A named one; path is the files' common stem.
  MutexState(std::string dir, std::string path, Fd presence, Fd lock)
      : dir_(std::move(dir)), path_(std::move(path)), presence_(std::move(presence)), lock_(std::move(lock)) {}
  ~MutexState();

  DWORD Acquire(DWORD ms);
  bool Release();
  // The owning thread has ended.
  void Abandon(DWORD thread);
  // Ownership of a mutex just created (nobody else can hold its file lock).
  void TakeNew();

 private:
  enum class FileLock { kTaken, kTimedOut, kFailed };
  FileLock LockFile(bool forever, Clock::time_point deadline);
  // After the file lock is taken: whether a record was left, and ours written.
  bool ClaimRecord();
  void BecomeOwner(DWORD thread);

  std::mutex mu_;
  std::condition_variable cv_;
  DWORD owner_ = 0;       // thread id, 0 when free
  DWORD count_ = 0;       // recursion
  bool claiming_ = false;  // a thread of this process is taking the file lock
  bool abandoned_ = false;  // unnamed only: the last owner ended holding it
  std::string dir_, path_;
  Fd presence_, lock_;
};

OwnedMutexes::~OwnedMutexes() {
  DWORD self = GetCurrentThreadId();
  for (auto& m : held)
    if (auto state = m.ref.lock()) state->Abandon(self);
}

// The process's last handle is gone. An owner's lock goes with it, leaving the
// owner record: the next owner elsewhere finds the mutex abandoned.
MutexState::~MutexState() {
  if (!presence_) return;
  NamespaceLock ns(dir_);
  lock_.reset();
  presence_.reset();
  // The last handle on the machine takes the files along, unless they hold an
  // abandoned owner's record.
  Fd probe = OpenFile(path_ + ".ref", O_RDWR);
  struct stat st {};
  if (ns.held() && probe && flock(probe.get(), LOCK_EX | LOCK_NB) == 0 &&
      stat((path_ + ".lock").c_str(), &st) == 0 && st.st_size == 0) {
    unlink((path_ + ".lock").c_str());
    unlink((path_ + ".ref").c_str());
  }
}

MutexState::FileLock MutexState::LockFile(bool forever, Clock::time_point deadline) {
  if (forever) return Flock(lock_.get(), LOCK_EX) == 0 ? FileLock::kTaken : FileLock::kFailed;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (flock(lock_.get(), LOCK_EX | LOCK_NB) == 0) return FileLock::kTaken;
    if (errno != EWOULDBLOCK && errno != EINTR) return FileLock::kFailed;
    auto now = Clock::now();
    if (now >= deadline) return FileLock::kTimedOut;
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(10));
  }
}

bool MutexState::ClaimRecord() {
  char buf[16];
  bool left = pread(lock_.get(), buf, sizeof buf, 0) > 0;
  char record[128];
  int n = std::snprintf(record, sizeof record, "pid=%d start=%s thread=%u\n", static_cast<int>(getpid()),
                        ProcessStartTime().c_str(), GetCurrentThreadId());
  if (ftruncate(lock_.get(), 0) != 0 || pwrite(lock_.get(), record, static_cast<size_t>(n), 0) != n) {
    // Without its record a later death would go unnoticed; the lock still works.
    std::fprintf(stderr, "mutex %s: cannot write the owner record\n", path_.c_str());
  }
  return left;
}

void MutexState::BecomeOwner(DWORD thread) {
  owner_ = thread;
  count_ = 1;
  auto& held = t_owned.held;
  std::erase_if(held, [](const OwnedMutex& m) { return m.ref.expired(); });
  held.push_back({this, weak_from_this()});
}

void MutexState::TakeNew() {
  std::lock_guard<std::mutex> guard(mu_);
  if (lock_ && flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) return;  // cannot happen to a new object
  // An abandoned record is overwritten unseen: the platform gives the creator
  // no wait result to report it with.
  if (lock_) ClaimRecord();
  BecomeOwner(GetCurrentThreadId());
}

DWORD MutexState::Acquire(DWORD ms) {
  const DWORD self = GetCurrentThreadId();
  const bool forever = ms == INFINITE;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : ms);
  std::unique_lock<std::mutex> lk(mu_);
  if (owner_ == self) {
    ++count_;
    return WAIT_OBJECT_0;
  }
  auto free = [this] { return owner_ == 0 && !claiming_; };
  if (forever) cv_.wait(lk, free);
  else if (!cv_.wait_until(lk, deadline, free)) return WAIT_TIMEOUT;

  bool abandoned;
  if (!lock_) {
    abandoned = std::exchange(abandoned_, false);
  } else {
    // Other threads of the process wait on the condition while this one waits
    // on the other processes.
    claiming_ = true;
    lk.unlock();
    FileLock got = LockFile(forever, deadline);
    int err = errno;
    abandoned = got == FileLock::kTaken && ClaimRecord();
    lk.lock();
    claiming_ = false;
    if (got != FileLock::kTaken) {
      cv_.notify_all();
      if (got == FileLock::kTimedOut) return WAIT_TIMEOUT;
      SetLastError(ErrorFromErrno(err));
      return WAIT_FAILED;
    }
  }
  BecomeOwner(self);
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

bool MutexState::Release() {
  std::lock_guard<std::mutex> guard(mu_);
  DWORD self = GetCurrentThreadId();
  if (owner_ != self) return false;
  if (--count_ > 0) return true;
  if (lock_) {
    if (ftruncate(lock_.get(), 0) != 0) std::fprintf(stderr, "mutex %s: cannot clear the owner record\n", path_.c_str());
    Flock(lock_.get(), LOCK_UN);
  }
  owner_ = 0;
  auto& held = t_owned.held;
  auto it = std::find_if(held.begin(), held.end(), [this](const OwnedMutex& m) { return m.state == this; });
  if (it != held.end()) held.erase(it);
  cv_.notify_all();
  return true;
}

void MutexState::Abandon(DWORD thread) {
  std::lock_guard<std::mutex> guard(mu_);
  if (owner_ != thread) return;
  owner_ = 0;
  count_ = 0;
  if (lock_) Flock(lock_.get(), LOCK_UN);  // the record stays for the next owner to find
  else abandoned_ = true;
  cv_.notify_all();
}

// A handle: the object plus the access it was opened with.
class MutexHandle : public KernelObject {
 public:
  MutexHandle(std::shared_ptr<MutexState> state, DWORD access) : state(std::move(state)), access(access) {}
  DWORD Wait(DWORD ms) override {
    if (!(access & SYNCHRONIZE)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return WAIT_FAILED;
    }
    return state->Acquire(ms);
  }
  const std::shared_ptr<MutexState> state;
  const DWORD access;
};

// The mutexes this process has open, by file stem (which includes the root).
struct NameTable {
  std::mutex lock;
  std::map<std::string, std::weak_ptr<MutexState>> states;
};

NameTable& Names() {
  static NameTable* table = new NameTable;  // handles may outlive statics
  return *table;
}

// Opens (or with create, creates) the named object. *existed tells which.
std::shared_ptr<MutexState> OpenNamed(std::u16string_view name, bool create, bool own, bool* existed) {
  NameTable& t = Names();
  std::lock_guard<std::mutex> guard(t.lock);
  std::erase_if(t.states, [](const auto& entry) { return entry.second.expired(); });
  const std::string dir = RootPath("kernel/mutex");
  const std::string path = dir + "/" + ObjectFileBase(name);
  if (auto it = t.states.find(path); it != t.states.end()) {
    if (auto state = it->second.lock()) {
      *existed = true;
      return state;
    }
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  NamespaceLock ns(dir);
  if (!ns.held()) return FailFromErrno(), nullptr;
  Fd presence = OpenFile(path + ".ref", O_RDWR | (create ? O_CREAT : 0));
  if (!presence) return (errno == ENOENT ? Fail(ERROR_FILE_NOT_FOUND) : FailFromErrno()), nullptr;
  // Nobody else holding the presence lock means the object does not exist.
  const bool alone = flock(presence.get(), LOCK_EX | LOCK_NB) == 0;
  if (alone && !create) return Fail(ERROR_FILE_NOT_FOUND), nullptr;
  Fd lock = OpenFile(path + ".lock", O_RDWR | O_CREAT);
  if (!lock) return FailFromErrno(), nullptr;
  if (Flock(presence.get(), LOCK_SH) != 0) return FailFromErrno(), nullptr;
  auto state = std::make_shared<MutexState>(dir, path, std::move(presence), std::move(lock));
  if (alone && own) state->TakeNew();
  t.states[path] = state;
  *existed = !alone;
  return state;
}

constexpr DWORD kMutexRights = MUTEX_MODIFY_STATE | STANDARD_RIGHTS_ALL;

// The access a handle gets for what OpenMutexW asked; 0 when the platform
// refuses the request.
DWORD GrantedAccess(DWORD wanted) {
  constexpr DWORD kGeneric = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;
  if (wanted == 0 || (wanted & ~(kMutexRights | MAXIMUM_ALLOWED | kGeneric))) return 0;
  DWORD granted = wanted & kMutexRights;
  if (wanted & (GENERIC_ALL | MAXIMUM_ALLOWED)) granted |= MUTEX_ALL_ACCESS;
  if (wanted & GENERIC_READ) granted |= READ_CONTROL | MUTEX_MODIFY_STATE;
  if (wanted & GENERIC_WRITE) granted |= READ_CONTROL;
  if (wanted & GENERIC_EXECUTE) granted |= READ_CONTROL | SYNCHRONIZE;
  return granted;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCWSTR name) {
  if (FaultedWithLastError("CreateMutexW")) return nullptr;
  std::shared_ptr<MutexState> state;
  bool existed = false;
  if (!name || !*name) {
    state = std::make_shared<MutexState>();
    if (initialOwner) state->TakeNew();
  } else {
    std::u16string_view object;
    if (!ObjectName(name, &object)) return nullptr;
    state = OpenNamed(object, true, initialOwner, &existed);
    if (!state) return nullptr;
  }
  HANDLE h = NewHandle(std::make_shared<MutexHandle>(std::move(state), MUTEX_ALL_ACCESS));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE WINAPI OpenMutexW(DWORD access, BOOL inherit, LPCWSTR name) {
  if (FaultedWithLastError("OpenMutexW")) return nullptr;
  if (!name) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  if (!*name) return Fail(ERROR_FILE_NOT_FOUND), nullptr;
  std::u16string_view object;
  if (!ObjectName(name, &object)) return nullptr;
  bool existed = false;
  auto state = OpenNamed(object, false, false, &existed);
  if (!state) return nullptr;
  if (access & ACCESS_SYSTEM_SECURITY) return Fail(ERROR_PRIVILEGE_NOT_HELD), nullptr;
  DWORD granted = GrantedAccess(access);
  if (!granted) return Fail(ERROR_ACCESS_DENIED), nullptr;
  return NewHandle(std::make_shared<MutexHandle>(std::move(state), granted));
}

// Any handle to the mutex may release it; only ownership matters.
BOOL WINAPI ReleaseMutex(HANDLE mutex) {
  if (FaultedWithLastError("ReleaseMutex")) return FALSE;
  auto handle = LookupHandleAs<MutexHandle>(mutex);
  if (!handle) return FALSE;
  if (!handle->state->Release()) return Fail(ERROR_NOT_OWNER);
  return TRUE;
}

}  // extern "C"
