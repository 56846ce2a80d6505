// mapiadmin generate: fills a store with many items of realistic shape —
// mail with plain and HTML bodies, recipients and now and then attachments of
// mixed sizes, calendar items and contacts — for measuring at a real
// mailbox's size. The same seed gives the same items.
//
// Each item is made from its own number (seed and position), so a later run
// with --first numbering on adds items that follow the earlier ones in time
// and never equal them.
#include <standin/mapi.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "mailimport.h"
#include "mapiadmin.h"

namespace mapiadmin {

namespace {

using mailimport::ImportedAttachment;
using mailimport::ImportedMessage;

// Items are committed in batches of this many.
constexpr int kBatch = 2000;
// Every 25 items: one calendar item and one contact.
constexpr int kKindCycle = 25;
constexpr int kCalendarSlot = 7;
constexpr int kContactSlot = 19;
// 2024-01-01 00:00:00 UTC; item n is about n * kSpacing seconds later.
constexpr int64_t kStart = 1704067200;
constexpr int64_t kSpacing = 600;

// splitmix64: small, fast and the same everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  bool Percent(int p) { return Below(100) < static_cast<size_t>(p); }
  // Spread evenly over the logarithm between lo and hi: many small, few large.
  size_t LogBetween(size_t lo, size_t hi) {
    double f = static_cast<double>(Next() >> 11) / static_cast<double>(1ull << 53);
    double v = static_cast<double>(lo) * std::pow(static_cast<double>(hi) / static_cast<double>(lo), f);
    return static_cast<size_t>(v);
  }
  template <class T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

const char* const kGiven[] = {"Ada",    "Grace",   "Alan",  "Katherine", "Edsger", "Barbara", "Donald",  "Margaret",
                              "Claude", "Frances", "John",  "Radia",     "Ken",    "Dennis",  "Niklaus", "Hedy",
                              "Tim",    "Sophie",  "Linus", "Annie",     "Vint",   "Joan",    "Leslie",  "Shafi"};
const char* const kSurnames[] = {"Lovelace", "Hopper",   "Turing",  "Johnson", "Dijkstra", "Liskov",
                                 "Knuth",    "Hamilton", "Shannon", "Allen",   "Backus",   "Perlman",
                                 "Thompson", "Ritchie",  "Wirth",   "Lamarr",  "Berners",  "Wilson",
                                 "Torvalds", "Easley",   "Cerf",    "Clarke",  "Lamport",  "Goldwasser"};
const char* const kDomains[] = {"example.com", "example.org", "mail.example", "corp.example", "lists.example"};
const char* const kTopics[] = {"Quarterly figures",
                               "Lunch on Friday?",
                               "The build is green again",
                               "Review: storage layer",
                               "Travel plans for March",
                               "Minutes of the planning meeting",
                               "Release checklist",
                               "Printer on the 3rd floor",
                               "Welcome to the team",
                               "Budget for the offsite",
                               "Question about the API",
                               "Slides for Thursday",
                               "Holiday rota",
                               "New coffee machine",
                               "Backup test results",
                               "Invoice reminder",
                               "Contract renewal",
                               "Customer feedback",
                               "Server maintenance window",
                               "Interview schedule",
                               "Draft of the proposal",
                               "Weekly status",
                               "Parking permits",
                               "Training next month"};
const char* const kPrefixes[] = {"", "", "", "Re: ", "Re: ", "Fwd: ", "RE: ", "Re: Re: "};
const char* const kWords[] = {
    "the",      "report",   "meeting",  "numbers", "we",       "should",   "review",  "before", "Friday",   "team",
    "please",   "attached", "draft",    "budget",  "project",  "customer", "update",  "next",   "week",     "plan",
    "thanks",   "for",      "your",     "help",    "with",     "this",     "issue",   "server", "release",  "notes",
    "and",      "a",        "to",       "of",      "in",       "is",       "it",      "that",   "on",       "quick",
    "question", "about",    "schedule", "call",    "tomorrow", "morning",  "agenda",  "items",  "feedback", "changes",
    "figures",  "quarter",  "growth",   "costs",   "office",   "travel",   "invoice", "order",  "delivery", "contract"};
const char* const kPlaces[] = {"Room 3.14", "Town hall", "Room 2.71", "Canteen", "Board room", "Online", "Lab 4"};
const char* const kEvents[] = {"Team meeting",  "Dentist", "Design review",   "Lunch",    "Quarterly planning",
                               "Release party", "1:1",     "Conference call", "Workshop", "All hands"};

struct AttachKind {
  const char* extension;
  const char* mimeType;
  bool text;  // compressible text rather than packed bytes
};
const AttachKind kAttachKinds[] = {
    {"pdf", "application/pdf", false},
    {"png", "image/png", false},
    {"jpg", "image/jpeg", false},
    {"csv", "text/csv", true},
    {"txt", "text/plain", true},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document", false}};

std::string Sentence(Random& r) {
  std::string s;
  size_t words = 6 + r.Below(11);
  for (size_t i = 0; i < words; ++i) {
    std::string w = r.Pick(kWords);
    if (i == 0) w[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(w[0])));
    if (i) s += ' ';
    s += w;
  }
  s += r.Percent(15) ? "?" : ".";
  return s;
}

// Paragraphs of sentences, about size bytes.
std::vector<std::string> Paragraphs(Random& r, size_t size) {
  std::vector<std::string> out;
  size_t total = 0;
  while (total < size) {
    std::string p;
    size_t sentences = 2 + r.Below(4);
    for (size_t i = 0; i < sentences; ++i) p += (i ? " " : "") + Sentence(r);
    total += p.size() + 2;
    out.push_back(std::move(p));
  }
  return out;
}

std::string Base64(const std::string& data) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(data.size() * 4 / 3 + data.size() / 38 + 8);
  size_t line = 0;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16;
    if (i + 1 < data.size()) n |= static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
    if (i + 2 < data.size()) n |= static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kAlphabet[n & 63] : '=';
    if ((line += 4) == 76) {
      out += "\r\n";
      line = 0;
    }
  }
  if (line) out += "\r\n";
  return out;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else
      out += c;
  }
  return out;
}

// "Tue, 04 Mar 2026 13:05:09 +0000", from the calendar itself: the C
// library's broken-down time has no thread-safe form on every system.
std::string RfcDate(int64_t t) {
  using namespace std::chrono;
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const sys_seconds when{seconds{t}};
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{when - day};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02ld:%02ld:%02ld +0000", kDays[weekday{day}.c_encoding()],
                static_cast<unsigned>(date.day()), kMonths[static_cast<unsigned>(date.month()) - 1],
                static_cast<int>(date.year()), static_cast<long>(time.hours().count()),
                static_cast<long>(time.minutes().count()), static_cast<long>(time.seconds().count()));
  return text;
}

FILETIME FileTimeOf(int64_t unixSeconds) {
  uint64_t ticks = static_cast<uint64_t>(unixSeconds + 11644473600ll) * 10000000ull;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

struct Person {
  std::string given, surname, email;
  std::string Name() const { return given + " " + surname; }
};

Person SomePerson(Random& r) {
  Person p{r.Pick(kGiven), r.Pick(kSurnames), ""};
  std::string local = p.given + "." + p.surname;
  for (char& c : local) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  p.email = local + "@" + r.Pick(kDomains);
  return p;
}

std::string Address(const Person& p) { return "\"" + p.Name() + "\" <" + p.email + ">"; }

// The item's time: after every item numbered before it.
int64_t ItemTime(Random& r, uint64_t number) {
  return kStart + static_cast<int64_t>(number) * kSpacing + static_cast<int64_t>(r.Below(kSpacing));
}

// A mail message as the import would have read it, raw bytes included.
ImportedMessage MakeMail(Random& r, uint64_t number) {
  ImportedMessage m;
  Person from = SomePerson(r);
  std::vector<Person> to(1 + r.Below(r.Percent(20) ? 8 : 3)), cc(r.Percent(30) ? 1 + r.Below(3) : 0);
  for (Person& p : to) p = SomePerson(r);
  for (Person& p : cc) p = SomePerson(r);
  // One draw after the other: in one expression their order would be the
  // compiler's, and the same seed would make other mail under another (the
  // order kept is the one the seeds' mail has always had).
  const char* topic = r.Pick(kTopics);
  std::string subject = std::string(r.Pick(kPrefixes)) + topic;
  int64_t when = ItemTime(r, number);
  std::vector<std::string> paragraphs = Paragraphs(r, r.LogBetween(150, 6000));
  std::string plain = "Hello " + to[0].given + ",\r\n\r\n";
  for (const std::string& p : paragraphs) plain += p + "\r\n\r\n";
  plain += from.given + "\r\n";
  std::string html;
  if (r.Percent(60)) {
    html = "<html><head><meta charset=\"utf-8\"></head><body>\r\n<p>Hello " + HtmlEscape(to[0].given) + ",</p>\r\n";
    for (const std::string& p : paragraphs) html += "<p>" + HtmlEscape(p) + "</p>\r\n";
    html += "<p>" + HtmlEscape(from.given) + "</p>\r\n</body></html>\r\n";
  }
  if (r.Percent(5)) {
    size_t count = 1 + r.Below(2);
    for (size_t i = 0; i < count; ++i) {
      const AttachKind& kind = r.Pick(kAttachKinds);
      size_t size = r.Percent(2) ? r.LogBetween(128 * 1024, 512 * 1024) : r.LogBetween(1024, 32 * 1024);
      ImportedAttachment a;
      a.fileName = W(std::string(r.Pick(kWords)) + "-" + std::to_string(number) + "-" + std::to_string(i) + "." +
                     kind.extension);
      a.mimeType = W(kind.mimeType);
      a.data.reserve(size + 64);
      if (kind.text) {
        while (a.data.size() < size) a.data += Sentence(r) + "\r\n";
      } else {
        a.data = std::string("%") + kind.extension + "\n";
        while (a.data.size() < size) {
          uint64_t v = r.Next();
          a.data.append(reinterpret_cast<const char*>(&v), sizeof v);
        }
      }
      a.data.resize(size);
      m.attachments.push_back(std::move(a));
    }
  }

  std::string messageId = "<" + std::to_string(when) + "." + std::to_string(number) + "@generated.example>";
  std::string headers = "From: " + Address(from) + "\r\nTo: ";
  for (size_t i = 0; i < to.size(); ++i) headers += (i ? ", " : "") + Address(to[i]);
  headers += "\r\n";
  if (!cc.empty()) {
    headers += "Cc: ";
    for (size_t i = 0; i < cc.size(); ++i) headers += (i ? ", " : "") + Address(cc[i]);
    headers += "\r\n";
  }
  headers += "Subject: " + subject + "\r\nDate: " + RfcDate(when) + "\r\nMessage-ID: " + messageId +
             "\r\nMIME-Version: 1.0\r\n";
  const std::string boundary = "=_part_" + std::to_string(number);
  std::string body;
  auto textPart = [](const char* type, const std::string& text) {
    return std::string("Content-Type: ") + type + "; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + text;
  };
  std::string alternative = html.empty()
                                ? textPart("text/plain", plain)
                                : "Content-Type: multipart/alternative; boundary=\"" + boundary + "-alt\"\r\n\r\n--" +
                                      boundary + "-alt\r\n" + textPart("text/plain", plain) + "\r\n--" + boundary +
                                      "-alt\r\n" + textPart("text/html", html) + "\r\n--" + boundary + "-alt--\r\n";
  if (m.attachments.empty()) {
    body = alternative;
  } else {
    body = "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--" + boundary + "\r\n" + alternative;
    for (const ImportedAttachment& a : m.attachments) {
      body += "\r\n--" + boundary + "\r\nContent-Type: " + U(a.mimeType) + "; name=\"" + U(a.fileName) +
              "\"\r\nContent-Disposition: attachment; filename=\"" + U(a.fileName) +
              "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(a.data);
    }
    body += "\r\n--" + boundary + "--\r\n";
  }
  // The header block ends where the body's own part headers begin.
  std::string head = headers;
  m.raw = headers + body;
  m.headers = W(head);
  m.subject = W(subject);
  m.senderName = W(from.Name());
  m.senderEmail = W(from.email);
  for (const Person& p : to) m.to.push_back({W(p.Name()), W(p.email)});
  for (const Person& p : cc) m.cc.push_back({W(p.Name()), W(p.email)});
  m.hasDate = true;
  m.date = FileTimeOf(when);
  m.messageId = W(messageId);
  m.plainBody = W(plain);
  m.htmlBody = html;
  return m;
}

struct Counts {
  uint64_t mail = 0, withAttachments = 0, attachments = 0, calendar = 0, contacts = 0, mailBytes = 0;
};

void WriteEvent(IMAPIFolder* folder, Random& r, uint64_t number) {
  int64_t created = ItemTime(r, number);
  int64_t start = created + 86400 * static_cast<int64_t>(1 + r.Below(30));
  start -= start % 1800;
  std::u16string cls = u"IPM.Appointment", subject = W(r.Pick(kEvents)), where = W(r.Pick(kPlaces));
  std::string second = Sentence(r);  // drawn first, as before: see MakeMail
  std::u16string body = W(Sentence(r) + "\r\n" + second);
  WriteItem(folder, {UnicodeValue(PR_MESSAGE_CLASS_W, cls), UnicodeValue(PR_SUBJECT_W, subject),
                     TimeValue(PR_START_DATE, FileTimeOf(start)),
                     TimeValue(PR_END_DATE, FileTimeOf(start + 1800 * static_cast<int64_t>(1 + r.Below(4)))),
                     UnicodeValue(PR_LOCATION_W, where), UnicodeValue(PR_BODY_W, body),
                     TimeValue(PR_CREATION_TIME, FileTimeOf(created)),
                     TimeValue(PR_LAST_MODIFICATION_TIME, FileTimeOf(created))});
}

void WriteContact(IMAPIFolder* folder, Random& r, uint64_t number) {
  int64_t created = ItemTime(r, number);
  Person p = SomePerson(r);
  std::u16string cls = u"IPM.Contact", given = W(p.given), surname = W(p.surname), shown = W(p.Name()),
                 email = W(p.email);
  WriteItem(folder, {UnicodeValue(PR_MESSAGE_CLASS_W, cls), UnicodeValue(PR_DISPLAY_NAME_W, shown),
                     UnicodeValue(PR_SUBJECT_W, shown), UnicodeValue(PR_GIVEN_NAME_W, given),
                     UnicodeValue(PR_SURNAME_W, surname), UnicodeValue(PR_EMAIL_ADDRESS_W, email),
                     TimeValue(PR_CREATION_TIME, FileTimeOf(created)),
                     TimeValue(PR_LAST_MODIFICATION_TIME, FileTimeOf(created))});
}

}  // namespace

void AddGenerateCommand(CLI::App& app) {
  static std::string profile, store, folder, calendarFolder, contactsFolder;
  static uint64_t count = 0, seed = 1, first = 0;
  static bool json = false;
  CLI::App* cmd = app.add_subcommand(
      "generate", "fill a folder with generated mail (plus calendar items and contacts in their folders)");
  cmd->add_option("profile", profile, "profile name")->required();
  cmd->add_option("--store", store, "store display name")->required();
  cmd->add_option("--folder", folder, "folder for the mail, below the top of the store (made when missing)")
      ->default_val("Inbox");
  cmd->add_option("--calendar-folder", calendarFolder, "folder for the calendar items (one in 25 items)")
      ->default_val("Calendar");
  cmd->add_option("--contacts-folder", contactsFolder, "folder for the contacts (one in 25 items)")
      ->default_val("Contacts");
  cmd->add_option("--count", count, "how many items")->required()->check(CLI::Range(uint64_t{1}, uint64_t{10000000}));
  cmd->add_option("--seed", seed, "the same seed makes the same items")->default_val(1);
  cmd->add_option("--first", first, "number of the first item: items numbered on from an earlier run come after it")
      ->default_val(0);
  cmd->add_flag("--json", json, "print the counts as JSON");
  cmd->callback([] {
    MapiSubsystem mapi;
    CInterfacePtr<IMAPISession> session = Logon(profile);
    CInterfacePtr<IMsgStore> msgStore = OpenStoreByName(session.Get(), store);
    CInterfacePtr<IMAPIFolder> mail = OpenFolderPath(msgStore.Get(), folder, true);
    CInterfacePtr<IMAPIFolder> calendar = OpenFolderPath(msgStore.Get(), calendarFolder, true);
    CInterfacePtr<IMAPIFolder> contacts = OpenFolderPath(msgStore.Get(), contactsFolder, true);
    struct timespec began {};
    clock_gettime(CLOCK_MONOTONIC, &began);
    Counts counts;
    standin::StoreBatch batch(msgStore.Get());
    Check(batch.status(), "starting to write");
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t number = first + i;
      Random r(seed * 0x2545F4914F6CDD1Dull ^ (number + 1) * 0x9E3779B97F4A7C15ull);
      switch (number % kKindCycle) {
        case kCalendarSlot:
          WriteEvent(calendar.Get(), r, number);
          ++counts.calendar;
          break;
        case kContactSlot:
          WriteContact(contacts.Get(), r, number);
          ++counts.contacts;
          break;
        default: {
          ImportedMessage m = MakeMail(r, number);
          WriteMailMessage(mail.Get(), m);
          ++counts.mail;
          counts.mailBytes += m.raw.size();
          counts.withAttachments += m.attachments.empty() ? 0 : 1;
          counts.attachments += m.attachments.size();
        }
      }
      if ((i + 1) % kBatch == 0) Check(batch.Commit(), "saving the items");
    }
    Check(batch.Commit(), "saving the items");
    struct timespec ended {};
    clock_gettime(CLOCK_MONOTONIC, &ended);
    double seconds = static_cast<double>(ended.tv_sec - began.tv_sec) + (ended.tv_nsec - began.tv_nsec) / 1e9;
    if (json) {
      nlohmann::json out = {{"mail", counts.mail},
                            {"withAttachments", counts.withAttachments},
                            {"attachments", counts.attachments},
                            {"calendar", counts.calendar},
                            {"contacts", counts.contacts},
                            {"mailBytes", counts.mailBytes},
                            {"seconds", seconds}};
      Print(out.dump(2) + "\n");
      return;
    }
    char line[512];
    std::snprintf(line, sizeof line,
                  "%" PRIu64 " items in %.1f s: %" PRIu64 " messages in %s (%" PRIu64 " with %" PRIu64
                  " attachments, %.1f MB of mail), %" PRIu64 " calendar items in %s, %" PRIu64 " contacts in %s\n",
                  count, seconds, counts.mail, folder.c_str(), counts.withAttachments, counts.attachments,
                  static_cast<double>(counts.mailBytes) / 1e6, counts.calendar, calendarFolder.c_str(), counts.contacts,
                  contactsFolder.c_str());
    Print(line);
  });
}

}  // namespace mapiadmin
