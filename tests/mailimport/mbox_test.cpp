// mbox files: where messages start and end, and that every byte of the file is
// accounted for by a separator line, a message or the blank line between them.
#include "common/fresh_root.h"
#include "mailimport.h"
#include "testing.h"

#include <gtest/gtest.h>

#include <fstream>

using mailimport::ImportedMessage;
using mailimport::MboxEntry;
using mailimport_testing::MailFile;
using mailimport_testing::ReadBytes;
using mailimport_testing::Utf8;

namespace {

struct Visited {
  MboxEntry entry;
  ImportedMessage message;
};

std::vector<Visited> Walk(const std::string& path) {
  std::vector<Visited> out;
  std::string error;
  EXPECT_TRUE(mailimport::ForEachMboxMessage(
      path,
      [&](const MboxEntry& entry, ImportedMessage&& message) {
        out.push_back({entry, std::move(message)});
        return true;
      },
      &error))
      << error;
  return out;
}

bool IsLineBreak(std::string_view s) { return s.empty() || s == "\n" || s == "\r\n"; }

// Rebuilds the file from what the walk reported.
void ExpectEveryByteAccountedFor(const std::string& file, const std::vector<Visited>& messages, size_t start = 0) {
  size_t pos = start;
  for (size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE("message " + std::to_string(i));
    const auto& [entry, message] = messages[i];
    ASSERT_EQ(entry.markerOffset, pos);
    ASSERT_EQ(file.compare(pos, entry.marker.size(), entry.marker), 0);
    ASSERT_TRUE(IsLineBreak(file.substr(pos + entry.marker.size(), entry.rawOffset - pos - entry.marker.size())));
    ASSERT_TRUE(file.compare(entry.rawOffset, message.raw.size(), message.raw) == 0);
    size_t end = entry.rawOffset + message.raw.size();
    size_t next = i + 1 < messages.size() ? messages[i + 1].entry.markerOffset : file.size();
    ASSERT_LE(end, next);
    EXPECT_TRUE(IsLineBreak(file.substr(end, next - end))) << "gap of " << next - end << " bytes";
    pos = next;
  }
  EXPECT_EQ(pos, file.size());
}

class MboxTest : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_TESTDATA(); }
};

TEST_F(MboxTest, MailingListArchiveOfFortyFiveMessages) {
  const auto path = MailFile("mbox", "mailbox-perl-imagemagick-list.mbox");
  const std::string file = ReadBytes(path);
  auto messages = Walk(path.string());
  ASSERT_EQ(messages.size(), 45u);
  ExpectEveryByteAccountedFor(file, messages);

  EXPECT_EQ(Utf8(messages[0].message.subject), "Re: File Conversion From HTML to PS and TIFF");
  int strayByte = 0;
  std::vector<std::string> names;
  for (const auto& [entry, message] : messages) {
    EXPECT_TRUE(entry.parseError.empty()) << entry.marker << ": " << entry.parseError;
    EXPECT_EQ(message.raw.rfind("From ", 0), std::string::npos);
    if (message.raw.find('\x81') != std::string::npos) ++strayByte;
    for (const auto& a : message.attachments) names.push_back(Utf8(a.fileName));
  }
  EXPECT_EQ(strayByte, 1);
  EXPECT_EQ(names, (std::vector<std::string>{"test.pl", "test.gif", "gravity.pl"}));

  std::vector<ImportedMessage> all;
  std::string error;
  ASSERT_TRUE(mailimport::ParseMbox(path.string(), &all, &error)) << error;
  ASSERT_EQ(all.size(), 45u);
  EXPECT_EQ(all[44].raw, messages[44].message.raw);
}

TEST_F(MboxTest, GmailExportSeparators) {
  const auto path = MailFile("mbox", "mimekit-gmail-takeout-style.mbox");
  auto messages = Walk(path.string());
  ASSERT_EQ(messages.size(), 4u);
  ExpectEveryByteAccountedFor(ReadBytes(path), messages);
  EXPECT_EQ(messages[0].entry.marker, "From 1844347792267117879@xxx");
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(Utf8(messages[i].message.subject), "Message " + std::to_string(i + 1));
    EXPECT_EQ(Utf8(messages[i].message.plainBody).rfind("Body of message " + std::to_string(i + 1), 0), 0u);
    EXPECT_NE(messages[i].message.htmlBody.find("<div dir=\"ltr\">"), std::string::npos);
  }
}

TEST_F(MboxTest, QuotedFromLinesStayInTheirMessage) {
  const auto path = MailFile("mbox", "mailparser-from-quoting.mbox");
  auto messages = Walk(path.string());
  ASSERT_EQ(messages.size(), 4u);
  ExpectEveryByteAccountedFor(ReadBytes(path), messages);
  EXPECT_EQ(messages[1].entry.marker, "From cras@irccrew.org  Tue Jul 23 19:39:23 2002");
  EXPECT_EQ(messages[2].message.raw, "Message 3\n>From hello\n>>From world\n>>>From test\n");
  EXPECT_EQ(messages[3].message.raw, "Message 4\n> From\n>F\n");
  // No header at all: reported, bytes still delivered.
  EXPECT_FALSE(messages[0].entry.parseError.empty());
  EXPECT_EQ(messages[0].message.raw, "Message 1\n");
}

TEST_F(MboxTest, ByteOrderMarkIsSkipped) {
  const auto path = MailFile("mbox", "mimekit-unmunged-from.mbox");
  auto messages = Walk(path.string());
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0].entry.markerOffset, 3u);
  EXPECT_EQ(Utf8(messages[0].message.subject), "This is a test message with an unmunged From line");
  // An unquoted "From " after a blank line cannot be told from a separator.
  ExpectEveryByteAccountedFor(ReadBytes(path), messages, 3);
}

TEST_F(MboxTest, VisitorCanStop) {
  int seen = 0;
  std::string error;
  ASSERT_TRUE(mailimport::ForEachMboxMessage(
      MailFile("mbox", "mailbox-perl-imagemagick-list.mbox").string(),
      [&](const MboxEntry&, ImportedMessage&&) { return ++seen < 3; }, &error));
  EXPECT_EQ(seen, 3);
}

class MboxFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    std::string path = dir_.path() + "/test.mbox";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  testing_support::TempDir dir_;
};

TEST_F(MboxFileTest, CrlfLinesAndNoFinalLineBreak) {
  const std::string file =
      "From a@example.com Mon Jan  1 00:00:00 2001\r\nSubject: one\r\n\r\nbody one\r\n\r\n"
      "From b@example.com Mon Jan  1 00:00:01 2001\r\nSubject: two\r\n\r\nfirst\r\nFrom here on\r\nbody two";
  auto messages = Walk(Write(file));
  ASSERT_EQ(messages.size(), 2u);
  ExpectEveryByteAccountedFor(file, messages);
  EXPECT_EQ(messages[0].message.raw, "Subject: one\r\n\r\nbody one\r\n");
  EXPECT_EQ(messages[0].entry.marker, "From a@example.com Mon Jan  1 00:00:00 2001");
  // "From " not after a blank line belongs to the body.
  EXPECT_EQ(messages[1].message.raw, "Subject: two\r\n\r\nfirst\r\nFrom here on\r\nbody two");
  EXPECT_EQ(Utf8(messages[1].message.subject), "two");
}

TEST_F(MboxFileTest, EmptyFileHoldsNoMessages) {
  EXPECT_TRUE(Walk(Write("")).empty());
}

TEST_F(MboxFileTest, MissingAndForeignFilesAreErrors) {
  std::vector<ImportedMessage> out;
  std::string error;
  EXPECT_FALSE(mailimport::ParseMbox(Write("Subject: plain eml\r\n\r\nbody\r\n"), &out, &error));
  EXPECT_NE(error.find("not an mbox"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(mailimport::ParseMbox(dir_.path() + "/missing.mbox", &out, &error));
  EXPECT_FALSE(error.empty());
  ImportedMessage m;
  EXPECT_FALSE(mailimport::ReadEmlFile(dir_.path() + "/missing.eml", &m, &error));
  EXPECT_NE(error.find("missing.eml"), std::string::npos) << error;
}

}  // namespace
