#include "SampleMail.h"

#include <cstdio>

namespace host {

namespace {

struct Person {
  const char* given;
  const char* surname;
  const char* email;
};

const Person kPeople[] = {
    {"Ada", "Lovelace", "ada@analytical.example"},     {"Grace", "Hopper", "grace@cobol.example"},
    {"Alan", "Turing", "alan@bletchley.example"},      {"Katherine", "Johnson", "katherine@orbit.example"},
    {"Edsger", "Dijkstra", "edsger@shortest.example"}, {"Barbara", "Liskov", "barbara@substitution.example"},
    {"Donald", "Knuth", "don@tex.example"},            {"Margaret", "Hamilton", "margaret@apollo.example"},
    {"Claude", "Shannon", "claude@entropy.example"},   {"Frances", "Allen", "fran@optimizing.example"},
};
constexpr int kPeopleCount = sizeof kPeople / sizeof kPeople[0];

const char* const kTopics[] = {
    "Quarterly figures",      "Lunch on Friday?",        "The build is green again", "Review: storage layer",
    "Travel plans for March", "Minutes of the planning", "Release checklist",        "Printer on the 3rd floor",
    "Welcome to the team",    "Budget for the offsite",  "Question about the API",   "Slides for Thursday",
    "Holiday rota",           "New coffee machine",      "Backup test results",      "Invoice reminder",
};
constexpr int kTopicCount = sizeof kTopics / sizeof kTopics[0];

const char* const kLines[] = {
    "Here is the short version; the details are in the shared folder.",
    "Could you have a look before the end of the week?",
    "Thanks for the quick turnaround on this one.",
    "Let me know if anything is unclear and I will walk you through it.",
    "I have put the numbers in the table below the fold.",
    "No rush, but it would help to have it before the meeting.",
};
constexpr int kLineCount = sizeof kLines / sizeof kLines[0];

// 2026-01-05 08:00:00 UTC, a Monday.
constexpr time_t kStart = 1767600000;

std::string Format(time_t t, const char* format) {
  struct tm parts {};
  gmtime_r(&t, &parts);
  char text[64];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

}  // namespace

std::vector<SampleMessage> SampleMessages(const std::string& tag, int count, int first) {
  std::vector<SampleMessage> out;
  for (int i = first; i < first + count; ++i) {
    const Person& p = kPeople[(i * 7 + static_cast<int>(tag.size())) % kPeopleCount];
    SampleMessage m;
    m.fromName = std::string(p.given) + " " + p.surname;
    m.fromEmail = p.email;
    // Subjects differ within a store, so no two sample messages look alike.
    m.subject = std::string(kTopics[i % kTopicCount]) + " (" + tag + " " + std::to_string(i + 1) + ")";
    m.body = std::string("Hello,\n\n") + kLines[i % kLineCount] + "\n" + kLines[(i + 3) % kLineCount] + "\n\n" +
             p.given + "\n";
    m.date = kStart + static_cast<time_t>(i) * 5400 + static_cast<time_t>(tag.size()) * 60;
    out.push_back(std::move(m));
  }
  return out;
}

std::string ToMbox(const std::vector<SampleMessage>& messages, const std::string& tag) {
  std::string text;
  int n = 0;
  for (const SampleMessage& m : messages) {
    std::string id;
    for (char c : tag) id += (c == ' ' || c == '/') ? '-' : c;
    text += "From " + m.fromEmail + " " + Format(m.date, "%a %b %e %H:%M:%S %Y") + "\n";
    text += "From: " + m.fromName + " <" + m.fromEmail + ">\n";
    text += "To: You <you@corvane.example>\n";
    text += "Subject: " + m.subject + "\n";
    text += "Date: " + Format(m.date, "%a, %d %b %Y %H:%M:%S +0000") + "\n";
    text += "Message-ID: <" + std::to_string(static_cast<long long>(m.date)) + "." + std::to_string(n++) + "." + id +
            "@corvane.example>\n";
    text += "MIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n";
    text += m.body + "\n";
  }
  return text;
}

std::vector<SampleEvent> SampleEvents(int first, int count) {
  static const char* const subjects[] = {"Team meeting", "Dentist", "Design review", "Lunch with Grace",
                                         "Quarterly planning", "Release party", "1:1 with Ada", "Conference call"};
  static const char* const places[] = {"Room 3.14", "Town", "Room 2.71", "Canteen", "Board room", "Roof terrace"};
  std::vector<SampleEvent> out;
  for (int i = first; i < first + count; ++i) {
    time_t start = kStart + 86400 * (i + 1) + 3600 * (i % 4);
    out.push_back({subjects[i % 8], places[i % 6], Format(start, "%Y-%m-%dT%H:%M:%SZ"),
                   Format(start + 3600, "%Y-%m-%dT%H:%M:%SZ")});
  }
  return out;
}

std::vector<SampleContact> SampleContacts(int first, int count) {
  std::vector<SampleContact> out;
  for (int i = first; i < first + count; ++i) {
    const Person& p = kPeople[i % kPeopleCount];
    out.push_back({p.given, p.surname, p.email});
  }
  return out;
}

std::string SampleTime(int hoursAfterStart) {
  return Format(kStart + static_cast<time_t>(hoursAfterStart) * 3600, "%Y-%m-%dT%H:%M:%SZ");
}

}  // namespace host
