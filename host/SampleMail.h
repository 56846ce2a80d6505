// Sample mail, calendar items and contacts for the demo's machine, made here
// so that a fresh clone needs no data from elsewhere. The same on every run.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace host {

struct SampleMessage {
  std::string fromName, fromEmail, subject, body;
  time_t date = 0;
};

struct SampleEvent {
  std::string subject, location, start, end;  // times in ISO 8601 UTC
};

struct SampleContact {
  std::string given, surname, email;
};

// count messages for a folder; tag keeps subjects and identifiers apart
// between folders, first numbers them on.
std::vector<SampleMessage> SampleMessages(const std::string& tag, int count, int first = 0);
// The messages as the text of an mbox file.
std::string ToMbox(const std::vector<SampleMessage>& messages, const std::string& tag);

std::vector<SampleEvent> SampleEvents(int first, int count);
std::vector<SampleContact> SampleContacts(int first, int count);

// A fixed creation time for arranged items ("2026-01-05T08:00:00Z" plus hours),
// so that two runs make equal items.
std::string SampleTime(int hoursAfterStart);

}  // namespace host
