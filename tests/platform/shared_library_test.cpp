#include "platform/shared_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace cw {
namespace {

#define TEST_C_FUNCTIONS(X) X(strlen) X(atoi)

CW_LIBRARY_TABLE(CFunctions, TEST_C_FUNCTIONS);

// The same functions, asked of a library no system has.
CW_LIBRARY_TABLE(MissingFunctions, TEST_C_FUNCTIONS);

TEST(SharedLibrary, FunctionsAreTakenOnceAndWhatIsMissingIsNamed) {
  std::string error;
  const CFunctions* c = library_functions<CFunctions>("libc.so.6", error);
  ASSERT_NE(c, nullptr) << error;
  EXPECT_EQ(c->strlen("card"), 4u);
  EXPECT_EQ(c->atoi("100"), 100);
  EXPECT_EQ(library_functions<CFunctions>("libc.so.6", error), c);

  // A library that cannot be loaded, every time it is asked for.
  const char* absent = "libcardwright-absent.so.1";
  EXPECT_EQ(library_functions<MissingFunctions>(absent, error), nullptr);
  EXPECT_NE(error.find("can't load libcardwright-absent.so.1"), std::string::npos) << error;
  error.clear();
  EXPECT_EQ(library_functions<MissingFunctions>(absent, error), nullptr);
  EXPECT_NE(error.find(absent), std::string::npos);

  // A function the library lacks is named, and leaves the slot empty.
  SharedLibrary libc("libc.so.6");
  ASSERT_TRUE(libc.loaded());
  void (*function)() = nullptr;
  EXPECT_FALSE(libc.take("cardwright_no_such_function", function));
  EXPECT_EQ(function, nullptr);
  EXPECT_EQ(libc.error(), "libc.so.6 has no function cardwright_no_such_function");
}

}  // namespace
}  // namespace cw
