// The file exception family: exact message texts, including the two- and
// three-line ones, and the handlers that catch each raised class.
#include "qvt_FileException.h"

#include <exception>

#include "qvt_TestSupport.h"
#include <gtest/gtest.h>

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
      {qvt_FileConnectExc("%s%d", "%1$s").AsString(),
       "*** ERROR: Can't connect to remote file:\n%s%d, reason:\n%1$s"},
      {qvt_FileNoSuchFile("100%.odb").AsString(), "*** ERROR: No such file: 100%.odb."},
  };
  for (const auto& c : cases) EXPECT_EQ(c.first, c.second);
}

// Raised through a base reference, the most-derived class is still what is
// thrown, with its text and place.
template <class Exc>
void ExpectCaughtAsItself(const Exc& exc) {
  const nex_Exception& base = exc;
  bool caught = false;
  try {
    const_cast<nex_Exception&>(base).Throw(__FILE__, 42);
  } catch (const Exc& e) {
    caught = true;
    EXPECT_EQ(e.AsString(), exc.AsString());
    EXPECT_EQ(e.UserReport(), exc.AsString());
    EXPECT_NE(e.DeveloperReport().find(exc.AsString()), cow_String::npos);
    EXPECT_EQ(cow_String(static_cast<const std::exception&>(e).what()), exc.AsString());
    EXPECT_EQ(e.SourceLine(), 42);
    EXPECT_STREQ(e.SourceFile(), __FILE__);
  }
  EXPECT_TRUE(caught);
}

TEST(FileExceptions, EveryClassIsCaughtAsItself) {
  ExpectCaughtAsItself(qvt_FileException("m"));
  ExpectCaughtAsItself(qvt_FileNoSuchFile("a.odb"));
  ExpectCaughtAsItself(qvt_FileNotReadable("a.odb"));
  ExpectCaughtAsItself(qvt_FileReadOnlyExc("a.odb"));
  ExpectCaughtAsItself(qvt_FileBadParameterExc("qvt_FileReprLocal::Write"));
  ExpectCaughtAsItself(qvt_FileConnectExc("x", "y"));
  ExpectCaughtAsItself(qvt_FileFailExc("x", "y"));
}

}  // namespace
