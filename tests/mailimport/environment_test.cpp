// GMime stays set up for the whole test program and is shut down once at the
// end, so that leak checking sees its global tables released.
#include "mailimport.h"

#include <gtest/gtest.h>

namespace {

class MailImportEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { mailimport::ShutdownMailImport(); }
};

const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new MailImportEnvironment);

TEST(MimeRuntimeTest, HoldingARuntimeIsOptionalAndRepeatable) {
  mailimport::ImportedMessage m;
  std::string error;
  { mailimport::MimeRuntime first; }
  ASSERT_TRUE(mailimport::ParseMessage("Subject: =?utf-8?q?caf=C3=A9?=\n\n", &m, &error)) << error;
  { mailimport::MimeRuntime second; }
  ASSERT_TRUE(mailimport::ParseMessage("Subject: =?utf-8?q?caf=C3=A9?=\n\n", &m, &error)) << error;
  EXPECT_EQ(m.subject, u"café");
}

}  // namespace
