// The file exception family: exact message texts, including the two- and
// three-line ones, and the handlers that catch each raised class.
#include "qvt_FileException.h"

#include <gtest/gtest.h>

#include <exception>

#include "qvt_TestSupport.h"

namespace {

TEST(FileExceptions, MessagesAreExact) {
  const std::pair<cow_String, const char*> cases[] = {
      {qvt_FileException("plain text").AsString(), "plain text"},
      {qvt_FileNoSuchFile("a.odb").AsString(), "*** ERROR: No such file: a.odb."},
      {qvt_FileNotReadable("a.odb").AsString(), "*** ERROR: No permission to read: a.odb."},
      {qvt_FileReadOnlyExc("a.odb").AsString(), "*** ERROR: Attempt to write to read-only file:\n  a.odb"},
      {qvt_FileBadParameterExc("qvt_FileReprLocal::Read").AsString(),
       "*** ERROR: Bad parameter passed to file method: qvt_FileReprLocal::Read."},
      {qvt_FileConnectExc("x", "y").AsString(), "*** ERROR: Can't connect to remote file:\nx, reason:\ny"},
      {qvt_FileFailExc("x", "y").AsString(), "*** ERROR: Lost connection to remote file:\nx, reason:\ny"},
      // Empty arguments leave nothing between the words.
      {qvt_FileNoSuchFile("").AsString(), "*** ERROR: No such file: ."},
      {qvt_FileReadOnlyExc("").AsString(), "*** ERROR: Attempt to write to read-only file:\n  "},
      {qvt_FileBadParameterExc(nullptr).AsString(), "*** ERROR: Bad parameter passed to file method: ."},
      {qvt_FileConnectExc("", "").AsString(), "*** ERROR: Can't connect to remote file:\n, reason:\n"},
      {qvt_FileFailExc("", "").AsString(), "*** ERROR: Lost connection to remote file:\n, reason:\n"},
      // Arguments are not taken as formats.
      {qvt_FileConnectExc("%s%d", "%1$s").AsString(), "*** ERROR: Can't connect to remote file:\n%s%d, reason:\n%1$s"},
      {qvt_FileNoSuchFile("100%.odb").AsString(), "*** ERROR: No such file: 100%.odb."},
  };
  for (const auto& c : cases) EXPECT_EQ(c.first, c.second);
}

// Raises exc through the foundation Throw and checks that handlers for the
// class itself and for each base catch it with its text and location.
template <class Exc>
void ExpectCaughtByEveryHandler(const Exc& exc) {
  const cow_String text = exc.AsString();
  int line = 0;
  try {
    line = __LINE__ + 1;
    Exc(exc).Throw(__FILE__, line);
  } catch (const Exc& e) {
    EXPECT_EQ(e.AsString(), text);
    EXPECT_EQ(e.SourceLine(), line);
    EXPECT_STREQ(e.SourceFile(), __FILE__);
  }
  try {
    Exc(exc).Throw(__FILE__, __LINE__);
  } catch (const qvt_FileException& e) {
    EXPECT_EQ(e.AsString(), text);
  }
  try {
    Exc(exc).Throw(__FILE__, __LINE__);
  } catch (const nex_TextException& e) {
    EXPECT_EQ(e.AsString(), text);
    EXPECT_EQ(e.UserReport(), text);
  }
  try {
    Exc(exc).Throw(__FILE__, __LINE__);
  } catch (const nex_Exception& e) {
    EXPECT_EQ(e.AsString(), text);
    EXPECT_NE(e.DeveloperReport().find(text), cow_String::npos);
  }
  try {
    Exc(exc).Throw(__FILE__, __LINE__);
  } catch (const std::exception& e) {
    EXPECT_EQ(cow_String(e.what()), text);
  }
  // Through a base reference the most-derived class is still what is thrown.
  try {
    const nex_Exception& base = exc;
    const_cast<nex_Exception&>(base).Throw(__FILE__, __LINE__);
  } catch (const Exc& e) {
    EXPECT_EQ(e.AsString(), text);
  }
}

TEST(FileExceptions, EveryClassIsCaughtByItselfAndEachBase) {
  ExpectCaughtByEveryHandler(qvt_FileException("m"));
  ExpectCaughtByEveryHandler(qvt_FileNoSuchFile("a.odb"));
  ExpectCaughtByEveryHandler(qvt_FileNotReadable("a.odb"));
  ExpectCaughtByEveryHandler(qvt_FileReadOnlyExc("a.odb"));
  ExpectCaughtByEveryHandler(qvt_FileBadParameterExc("qvt_FileReprLocal::Write"));
  ExpectCaughtByEveryHandler(qvt_FileConnectExc("x", "y"));
  ExpectCaughtByEveryHandler(qvt_FileFailExc("x", "y"));
}

TEST(FileExceptions, SiblingHandlersDoNotCatch) {
  bool caughtBySibling = false;
  bool caughtByFamily = false;
  try {
    try {
      NEX_THROW(qvt_FileNotReadable("a.odb"));
    } catch (const qvt_FileNoSuchFile&) {
      caughtBySibling = true;
    }
  } catch (const qvt_FileException& e) {
    caughtByFamily = true;
    EXPECT_EQ(e.AsString(), "*** ERROR: No permission to read: a.odb.");
  }
  EXPECT_FALSE(caughtBySibling);
  EXPECT_TRUE(caughtByFamily);
}

}  // namespace
