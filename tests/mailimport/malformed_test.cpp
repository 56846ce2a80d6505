// Input nobody should send: empty, random, truncated, mislabelled. The parser
// must neither crash nor lose the bytes it was given.
#include "mailimport.h"
#include "testing.h"

#include <gtest/gtest.h>

#include <random>

using mailimport::ImportedMessage;
using mailimport::ParseMessage;
using mailimport_testing::Utf8;

namespace {

class MalformedTest : public ::testing::Test {
};

TEST_F(MalformedTest, EmptyInputIsAnError) {
  for (std::string_view input : {std::string_view(), std::string_view(" \r\n\r\n"),
                                 std::string_view("From someone@example.com Mon Jan  1 00:00:00 2001\n")}) {
    ImportedMessage m;
    std::string error;
    EXPECT_FALSE(ParseMessage(input, &m, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST_F(MalformedTest, RandomBytesNeverCrash) {
  std::mt19937 random(20260101);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 3000);
  for (int round = 0; round < 300; ++round) {
    std::string input(static_cast<size_t>(length(random)), '\0');
    for (char& c : input) c = static_cast<char>(byte(random));
    ImportedMessage m;
    std::string error;
    if (ParseMessage(input, &m, &error)) {
      EXPECT_EQ(m.raw.size(), input.size());
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST_F(MalformedTest, EveryPrefixOfEveryTestMessage) {
  SKIP_WITHOUT_TESTDATA();
  for (const auto& entry : std::filesystem::directory_iterator(mailimport_testing::TestData() / "mail/eml")) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string whole = mailimport_testing::WithoutFromLine(mailimport_testing::ReadBytes(entry.path()));
    for (size_t cut = 0; cut <= whole.size(); cut += 37) {
      ImportedMessage m;
      std::string error;
      if (ParseMessage(std::string_view(whole).substr(0, cut), &m, &error)) {
        EXPECT_TRUE(m.raw == whole.substr(0, cut));
      }
    }
  }
}

TEST_F(MalformedTest, UnknownCharsetFallsBackToLegacyText) {
  ImportedMessage m;
  std::string error;
  ASSERT_TRUE(ParseMessage("Subject: x\r\nContent-Type: text/plain; charset=x-no-such-charset\r\n\r\ncaf\xe9",
                           &m, &error))
      << error;
  EXPECT_EQ(Utf8(m.plainBody), "café");
}

TEST_F(MalformedTest, RawEightBitLatin1HeadersAndBareTextType) {
  ImportedMessage m;
  std::string error;
  ASSERT_TRUE(ParseMessage("Subject: R\xe9sum\xe9\r\nFrom: Jos\xe9 <jose@example.com>\r\n"
                           "To: =?iso-8859-1?q?Ren=E9?= <rene@example.com>\r\nContent-Type: text\r\n\r\nbody",
                           &m, &error))
      << error;
  EXPECT_EQ(Utf8(m.subject), "Résumé");
  EXPECT_EQ(Utf8(m.senderName), "José");
  ASSERT_EQ(m.to.size(), 1u);
  EXPECT_EQ(Utf8(m.to[0].name), "René");
  // An old bare "Content-Type: text" is the body, not an attachment.
  EXPECT_EQ(Utf8(m.plainBody), "body");
  EXPECT_TRUE(m.attachments.empty());
}

TEST_F(MalformedTest, UndeclaredUtf8StaysUtf8) {
  ImportedMessage m;
  std::string error;
  ASSERT_TRUE(ParseMessage("Subject: x\r\n\r\ncaf\xc3\xa9", &m, &error)) << error;
  EXPECT_EQ(Utf8(m.plainBody), "café");
}

TEST_F(MalformedTest, BadBytesInDeclaredCharsetAreReplacedNotFatal) {
  ImportedMessage m;
  std::string error;
  ASSERT_TRUE(ParseMessage("Subject: x\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nA\xff\xfe" "B", &m, &error));
  EXPECT_EQ(m.plainBody, u"A\uFFFD\uFFFDB");
  ASSERT_TRUE(ParseMessage("Subject: x\r\nContent-Type: text/plain; charset=shift_jis\r\n\r\nA\x82\xa0\x82" "B\x82",
                           &m, &error));
  EXPECT_EQ(Utf8(m.plainBody).rfind("Aあ", 0), 0u) << Utf8(m.plainBody);
}

TEST_F(MalformedTest, NulBytesDoNotCutText) {
  ImportedMessage m;
  std::string error;
  std::string input("Subject: a\r\n\r\nbefore", 20);
  input += std::string(1, '\0') + "after";
  ASSERT_TRUE(ParseMessage(input, &m, &error));
  EXPECT_EQ(Utf8(m.plainBody), "beforeafter");
  EXPECT_EQ(m.raw, input);
}

TEST_F(MalformedTest, UnterminatedMultipartKeepsEmbeddedMessageToTheEnd) {
  const std::string input =
      "Subject: outer\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
      "--b\r\nContent-Type: message/rfc822\r\n\r\nSubject: inner\r\n\r\ninner body\r\n";
  ImportedMessage m;
  std::string error;
  ASSERT_TRUE(ParseMessage(input, &m, &error)) << error;
  EXPECT_EQ(Utf8(m.plainBody), "hello");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_TRUE(m.attachments[0].isMessage);
  EXPECT_EQ(m.attachments[0].data, "Subject: inner\r\n\r\ninner body\r\n");
}

TEST_F(MalformedTest, Base64EncodedEmbeddedMessageIsDecoded) {
  const std::string input =
      "Subject: outer\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
      "--b\nContent-Type: message/rfc822\nContent-Transfer-Encoding: base64\n\n"
      "U3ViamVjdDogaW5uZXIKCmJvZHkK\n"  // "Subject: inner\n\nbody\n"
      "--b--\n";
  ImportedMessage m;
  std::string error;
  ASSERT_TRUE(ParseMessage(input, &m, &error)) << error;
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].data, "Subject: inner\n\nbody\n");
}

TEST_F(MalformedTest, AlternativeInsideRelatedAndCalendarAlternative) {
  const std::string input =
      "Subject: s\nContent-Type: multipart/alternative; boundary=a\n\n"
      "--a\nContent-Type: text/plain\n\nplain\n"
      "--a\nContent-Type: multipart/related; boundary=r\n\n"
      "--r\nContent-Type: text/html; charset=iso-8859-1\n\n<p>caf\xe9</p>\n"
      "--r\nContent-Type: image/gif\nContent-ID: <logo@x>\nContent-Disposition: inline\n\nGIF\n"
      "--r--\n"
      "--a\nContent-Type: text/calendar\n\nBEGIN:VCALENDAR\n"
      "--a--\n";
  ImportedMessage m;
  std::string error;
  ASSERT_TRUE(ParseMessage(input, &m, &error)) << error;
  EXPECT_EQ(Utf8(m.plainBody), "plain");
  EXPECT_EQ(m.htmlBody, "<p>caf\xc3\xa9</p>");  // converted to UTF-8
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_EQ(Utf8(m.attachments[0].contentId), "logo@x");
  EXPECT_TRUE(m.attachments[0].isInline);
  EXPECT_EQ(Utf8(m.attachments[1].mimeType), "text/calendar");
}

TEST_F(MalformedTest, ParsingIntoTheMessageThatHoldsTheInput) {
  ImportedMessage m;
  std::string error;
  ASSERT_TRUE(ParseMessage("Subject: first\n\nbody\n", &m, &error));
  ASSERT_TRUE(ParseMessage(m.raw, &m, &error));
  EXPECT_EQ(Utf8(m.subject), "first");
  EXPECT_EQ(m.raw, "Subject: first\n\nbody\n");
}

}  // namespace
