// What the store files need of the file system, in one seam with a side per
// system (storefs_posix.cpp; windows/storefs.cpp for the DLL built for
// Windows). Paths are the system's own spelling in UTF-8: POSIX paths here,
// Windows paths there. Nothing here knows of stores or SQLite.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace standin::mapi::fs {

// The folder part of a path ("." when it has none).
std::string DirectoryOf(const std::string& path);
// folder + the system's separator + name.
std::string Join(const std::string& folder, const std::string& name);
// Whether a regular file is there.
bool IsRegularFile(const std::string& path);
// Whether anything (a file, a folder, a link) has that name.
bool Exists(const std::string& path);
// The size of a file; false when there is none.
bool FileSize(const std::string& path, uint64_t* size);
// What names the file itself whatever path reaches it (device and inode;
// volume and file index); false when there is no file.
bool FileIdentity(const std::string& path, std::pair<uint64_t, uint64_t>* id);
// Up to size bytes from the start of a file; the count read, or -1 when it
// cannot be opened.
long ReadHead(const std::string& path, void* buffer, size_t size);
// Removes a file. A missing file is no error; any other failure is described
// in *error and false returned.
bool RemoveFile(const std::string& path, std::string* error);
// The names of the entries of a folder (none when it cannot be read).
std::vector<std::string> ListFolder(const std::string& folder);
// This process's identifier, and whether the process of an identifier has
// ended (false when that cannot be told).
long CurrentProcess();
bool ProcessGone(long process);
// Gives the file at from the new name to, never replacing a file that is
// there: 1 when one is, 0 done, -1 failed (described in *error). from may
// keep its name too; the caller removes it.
int NameNewFile(const std::string& from, const std::string& to, std::string* error);
// Makes the folder's entries durable (a new name outlasts a power cut).
// False (described in *error) when that failed.
bool SyncFolder(const std::string& folder, std::string* error);

}  // namespace standin::mapi::fs
