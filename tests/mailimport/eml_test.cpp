// Single messages from the shared test data: decoded text, bodies,
// attachments, dates and the exact bytes kept.
#include "mailimport.h"
#include "testing.h"

#include <gtest/gtest.h>

#include <cstdint>

using mailimport::ImportedMessage;
using mailimport_testing::MailFile;
using mailimport_testing::ReadBytes;
using mailimport_testing::Utf8;
using mailimport_testing::WithoutFromLine;

namespace {

class EmlTest : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_TESTDATA(); }

  ImportedMessage Read(const std::string& name) {
    ImportedMessage message;
    std::string error;
    EXPECT_TRUE(mailimport::ReadEmlFile(MailFile("eml", name).string(), &message, &error)) << error;
    return message;
  }

};

std::uint64_t Ticks(const FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::uint64_t TicksOfUnix(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}

TEST_F(EmlTest, EveryFileParsesAndKeepsItsBytes) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(mailimport_testing::TestData() / "mail/eml")) {
    SCOPED_TRACE(entry.path().filename().string());
    ImportedMessage message;
    std::string error;
    ASSERT_TRUE(mailimport::ReadEmlFile(entry.path().string(), &message, &error)) << error;
    EXPECT_FALSE(message.subject.empty());
    EXPECT_FALSE(message.senderEmail.empty());
    EXPECT_FALSE(message.to.empty());
    EXPECT_FALSE(message.headers.empty());
    EXPECT_TRUE(message.raw == WithoutFromLine(ReadBytes(entry.path())));
    ++files;
  }
  EXPECT_EQ(files, 9);
}

TEST_F(EmlTest, JapaneseEncodedWordsAndIso2022Body) {
  ImportedMessage m = Read("mailgem-japanese-iso-2022-jp.eml");
  EXPECT_EQ(Utf8(m.subject), "まみむめも");
  ASSERT_EQ(m.to.size(), 1u);
  EXPECT_EQ(Utf8(m.to[0].name), "みける");
  EXPECT_EQ(Utf8(m.to[0].email), "raasdnil@gmail.com");
  EXPECT_EQ(Utf8(m.senderName), "Mikel Lindsaar");
  EXPECT_EQ(Utf8(m.plainBody).rfind("すみません。", 0), 0u) << Utf8(m.plainBody);
  EXPECT_TRUE(m.htmlBody.empty());
  EXPECT_TRUE(m.attachments.empty());
  EXPECT_FALSE(m.hasDate);  // the file has no Date header
  EXPECT_TRUE(m.messageId.empty());
}

TEST_F(EmlTest, KoreanEightBitBodyAndUtcDate) {
  ImportedMessage m = Read("mailgem-ks_c_5601-1987-8bit.eml");
  EXPECT_EQ(Utf8(m.plainBody).rfind("스티해", 0), 0u) << Utf8(m.plainBody);
  ASSERT_TRUE(m.hasDate);
  // Wed, 28 May 2014 17:18:19 +0900
  EXPECT_EQ(Ticks(m.date), TicksOfUnix(1401265099));
  EXPECT_EQ(Utf8(m.messageId), "<from@example.com>");
}

TEST_F(EmlTest, SubjectMixingPlainTextAndEncodedWords) {
  ImportedMessage m = Read("mailgem-mixed-encoded-words-euc-kr.eml");
  EXPECT_EQ(Utf8(m.subject), "Re: Test: \"漢字\" mid \"漢字\" tail");
  EXPECT_EQ(Utf8(m.senderName), "Jamis Buck");
  EXPECT_EQ(Utf8(m.senderEmail), "jamis@37signals.com");
  EXPECT_NE(Utf8(m.plainBody).find("대부분의"), std::string::npos) << Utf8(m.plainBody);
  ASSERT_TRUE(m.hasDate);
  EXPECT_EQ(Ticks(m.date), TicksOfUnix(1115071625));  // Mon, 2 May 2005 16:07:05 -0600
  // The mbox line is not part of the message, nor of its headers.
  EXPECT_EQ(m.raw.rfind("MIME-Version: 1.0", 0), 0u);
  EXPECT_EQ(Utf8(m.headers).rfind("MIME-Version: 1.0", 0), 0u);
}

TEST_F(EmlTest, HeadersAreTheHeaderBlockOnly) {
  ImportedMessage m = Read("mailgem-japanese-iso-2022-jp.eml");
  std::string headers = Utf8(m.headers);
  EXPECT_EQ(headers.rfind("MIME-Version: 1.0\r\nSubject: =?UTF-8?B?", 0), 0u);
  const std::string last = "\r\nContent-Transfer-Encoding: 7bit";
  ASSERT_GT(headers.size(), last.size());
  EXPECT_EQ(headers.substr(headers.size() - last.size()), last);
  EXPECT_EQ(headers.find('\x1b'), std::string::npos);  // nothing of the body
}

TEST_F(EmlTest, Rfc2231LongJapaneseFileName) {
  ImportedMessage m = Read("mailgem-rfc2231-long-japanese-filename.eml");
  std::string expectedSubject;
  for (int i = 0; i < 10; ++i) expectedSubject += "まみむめも";
  EXPECT_EQ(Utf8(m.subject), expectedSubject);
  ASSERT_EQ(m.attachments.size(), 1u);
  std::string expectedName;
  for (int i = 0; i < 5; ++i) expectedName += "かきくけこ";
  EXPECT_EQ(Utf8(m.attachments[0].fileName), expectedName + ".txt");
  EXPECT_EQ(Utf8(m.attachments[0].mimeType), "text/plain");
  EXPECT_EQ(m.attachments[0].data, "this is the data\r\n");
  EXPECT_FALSE(m.attachments[0].isInline);
  EXPECT_FALSE(m.attachments[0].isMessage);
  EXPECT_TRUE(m.plainBody.empty());  // the only text part is an attachment
}

TEST_F(EmlTest, EmbeddedMessageKeptAsItsOwnBytes) {
  const std::string file = ReadBytes(MailFile("eml", "mailgem-embedded-message-rfc822.eml"));
  ImportedMessage m = Read("mailgem-embedded-message-rfc822.eml");
  EXPECT_EQ(Utf8(m.plainBody).rfind("This is the first part.", 0), 0u);
  ASSERT_EQ(m.attachments.size(), 1u);
  const auto& item = m.attachments[0];
  EXPECT_TRUE(item.isMessage);
  EXPECT_EQ(Utf8(item.mimeType), "message/rfc822");
  EXPECT_EQ(Utf8(item.fileName), "ForwardedMessage.eml");

  // From the line after the forwarded mail's own "From " line up to the line
  // break that belongs to the outer closing delimiter.
  size_t begin = file.find("Return-Path: <xxxx@xxxx.com>");
  size_t end = file.find("\r\n--Apple-Mail-13-196941151--");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_TRUE(item.data == file.substr(begin, end - begin));

  ImportedMessage inner;
  std::string error;
  ASSERT_TRUE(mailimport::ParseMessage(item.data, &inner, &error)) << error;
  EXPECT_EQ(Utf8(inner.subject), "Another PDF");
  ASSERT_EQ(inner.attachments.size(), 1u);
  EXPECT_EQ(Utf8(inner.attachments[0].fileName), "broken.pdf");
  EXPECT_EQ(Utf8(inner.attachments[0].mimeType), "application/pdf");
  EXPECT_EQ(inner.attachments[0].data.rfind("%PDF", 0), 0u);
}

TEST_F(EmlTest, SignedMessageWithInlineImage) {
  ImportedMessage m = Read("mailgem-signed-nested-inline-png.eml");
  EXPECT_EQ(Utf8(m.plainBody).rfind("Here is a test of an attachment via email.", 0), 0u);
  ASSERT_EQ(m.attachments.size(), 2u);
  const auto& image = m.attachments[0];
  EXPECT_EQ(Utf8(image.fileName), "truncated.png");  // the disposition's name wins over name=
  EXPECT_EQ(Utf8(image.mimeType), "image/png");
  EXPECT_TRUE(image.isInline);
  EXPECT_EQ(image.data.substr(0, 8), "\x89PNG\r\n\x1a\n");
  const auto& signature = m.attachments[1];
  EXPECT_EQ(Utf8(signature.fileName), "smime.p7s");
  EXPECT_EQ(Utf8(signature.mimeType), "application/pkcs7-signature");
  EXPECT_FALSE(signature.isInline);
  EXPECT_EQ(signature.data.size(), 939u);
}

TEST_F(EmlTest, AlternativeBodiesWithUnquotedBoundary) {
  ImportedMessage m = Read("mailgem-outlook-express-unquoted-boundary.eml");
  EXPECT_EQ(Utf8(m.plainBody).rfind("Hello\r\nThis is an outlook test", 0), 0u) << Utf8(m.plainBody);
  EXPECT_NE(m.htmlBody.find("<STRONG>So there.</STRONG>"), std::string::npos) << m.htmlBody;
  // quoted-printable decoded, soft line breaks joined
  EXPECT_NE(m.htmlBody.find("content=\"text/html; charset=iso-8859-1\">"), std::string::npos) << m.htmlBody;
  EXPECT_TRUE(m.attachments.empty());
}

TEST_F(EmlTest, OutlookItemWithoutFileName) {
  ImportedMessage m = Read("mailgem-outlook2007-attached-item.eml");
  EXPECT_FALSE(m.plainBody.empty());
  EXPECT_FALSE(m.htmlBody.empty());
  ASSERT_EQ(m.attachments.size(), 1u);
  const auto& item = m.attachments[0];
  EXPECT_TRUE(item.isMessage);
  EXPECT_TRUE(item.fileName.empty());
  ImportedMessage inner;
  std::string error;
  ASSERT_TRUE(mailimport::ParseMessage(item.data, &inner, &error)) << error;
  EXPECT_EQ(Utf8(inner.subject), "This is test mail without attachment");
  EXPECT_FALSE(inner.htmlBody.empty());
  EXPECT_TRUE(inner.attachments.empty());
}

TEST_F(EmlTest, RawEightBitSubjectAndUnparseableDate) {
  ImportedMessage m = Read("mailgem-raw-8bit-subject-bad-date.eml");
  EXPECT_EQ(Utf8(m.subject), "GA.comô has a lead for you");
  EXPECT_FALSE(m.hasDate);  // "16:21:05 H0500" names no zone
  EXPECT_EQ(m.to.size(), 3u);
  EXPECT_EQ(Utf8(m.plainBody), "Body Text - not important");
}

}  // namespace
