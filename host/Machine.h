// Where the host meets the machine it runs on: the platform's wide text, its
// path spelling, its case-insensitive comparison and where its state lives.
// Everything else of the host speaks only to the library's exports.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace host {

// The platform's wide text.
using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;

WString W(std::string_view text);
std::string U(WStringView text);
std::string U(LPCWSTR text);

// The library takes and gives platform paths ("Z:\a\b"); the user sees the
// machine's own: POSIX ones on the stand-in, where a path the platform cannot
// spell maps to nothing; the same ones on Windows.
WString PlatformPath(const std::string& absolutePosixPath);
std::string PosixPath(WStringView platformPath);

// Equal without regard to case, as the platform compares names.
bool SameNoCase(WStringView a, WStringView b);

// The folder that holds the machine's state (its platform root), on the
// stand-in; empty on Windows.
std::string MachineFolder();
// Why there is no mail client, and what to do about it on this machine.
std::string NotInstalled();

// Whether the user has a profile "Outlook" in the registry.
bool HasOutlookProfile();
// The profile "Outlook" as text (keys and values), empty without one.
WString OutlookProfileText();

// Whether a user's argument names a path rather than a store: it holds a
// folder separator of this machine.
bool HoldsPathSeparator(const std::string& argument);

// Whether a store file can only be read here, so that nothing may write to
// it: on the stand-in, a file the mail client itself wrote (its header magic)
// or one the user may not write; on Windows, one marked read-only.
bool StoreFileReadOnly(const std::string& path);

// The options only this machine has: on the stand-in, --root, which chooses
// a machine of its own (and the demo, which makes one).
void AddMachineOptions(CLI::App& app);
// What --help says of them on the other machine.
extern const char kMachineNote[];

// What the machine's programs end in ("" or ".exe").
extern const char kProgramSuffix[];
// The folder of this program (its own spelling), or "" when unknown.
std::string ThisProgramFolder();
// Runs program with argv[1..] in place of this process, as far as the machine
// allows; returns only when it could not (errno or the last error is set), or
// with the program's exit code where the machine waits for it.
int RunInstead(const std::string& program, char** argv);

// Ctrl-C: onFirst runs at the first press (it may only set a flag and write
// to standard error); a second press ends the program at once. Released puts
// back what was there before.
bool CatchInterrupts(void (*onFirst)());
void ReleaseInterrupts();
// Writes at once to standard error, from an interrupt too.
void WriteErrorNow(const char* text, size_t size);
// Whether the stream is a terminal.
bool IsTerminal(FILE* stream);
// Whether the terminal shows UTF-8 (bars drawn with block characters).
bool TerminalShowsUtf8();

}  // namespace host
