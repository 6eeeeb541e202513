// Property store: file format, value semantics, set listing and crash-safe replacement.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "foundation/log.h"
#include "tests/common/test_env.h"
#include "util/proper.h"

namespace cw {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

class ProperTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(PropInit(dir.str() + "/root")); }
  void TearDown() override { prop_set_write_probe(nullptr); }
  std::string set_file(const std::string& cat, const std::string& name) {
    return dir.str() + "/root/" + cat + "/" + name;
  }
  // The file without its Date line, which changes with every write.
  static std::string without_date(const std::string& text) {
    std::size_t at = text.find("\nDate\t");
    if (at == std::string::npos) return text;
    return text.substr(0, at + 1) + text.substr(text.find('\n', at + 1) + 1);
  }
  // The set file's text without its Date line.
  std::string body(const std::string& cat, const std::string& name) {
    return without_date(read_file(set_file(cat, name)));
  }
  static std::vector<std::string> values(const PROPSET* set, const std::string& name) {
    std::vector<std::string> out;
    for (int i = 0; const PROPVAL* v = prop_get(set, name, i); ++i)
      out.push_back(v->type == kPropStr ? v->strval : std::to_string(v->intval));
    return out;
  }
  TempDir dir;
};

TEST_F(ProperTest, WritesTheDocumentedFormatAndReadsItBack) {
  PropSetPtr set = propset_alloc("Preset_Destination", std::string("Studio"));
  PropPutInt(set.get(), "NumberRangeDigits", 0, 4);
  PropPutStr(set.get(), "PrimaryFolder", 0, "/photos/in");
  PropPutStr(set.get(), "ExtensionsMRU", -1, "Exclude: DB");
  PropPutStr(set.get(), "ExtensionsMRU", -1, "Include: NEF\tJPG");
  PropPutStr(set.get(), "Version", 0, "7");  // never written as a property line
  PropPutInt(set.get(), "Negative", 0, -12);
  ASSERT_TRUE(propset_write(set.get()));
  EXPECT_FALSE(set->modified);

  std::string text = read_file(set_file("Preset_Destination", "Studio"));
  // The Date line holds a ctime text: "Www Mmm dd hh:mm:ss yyyy".
  EXPECT_THAT(text, ContainsRegex("^Version\t1\nDate\t[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] "
                                  "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n"));
  EXPECT_EQ(without_date(text),
            "Version\t1\n"
            "NumberRangeDigits\t4\n"
            "PrimaryFolder\t/photos/in\n"
            "ExtensionsMRU\tExclude: DB\n"
            "ExtensionsMRU\tInclude: NEF\tJPG\n"
            "Negative\t-12\n");
  EXPECT_FALSE(fs::exists(set_file("Preset_Destination", ".Studio")));
  // Unchanged since its last write, the set is not written again (the marked file stays).
  const std::string marked = "Version\t1\nDate\tMon Jan  1 00:00:00 1990\nA\t1\n";
  write_file(set_file("Preset_Destination", "Studio"), marked);
  ASSERT_TRUE(propset_write(set.get()));
  EXPECT_EQ(read_file(set_file("Preset_Destination", "Studio")), marked);

  write_file(set_file("Preset_Destination", "Studio"), text);
  PropSetPtr back = propset_get("Preset_Destination", std::string("Studio"));
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->modified);  // reading puts every line
  ASSERT_NE(prop_get(back.get(), "NumberRangeDigits", 0), nullptr);
  EXPECT_EQ(prop_get(back.get(), "NumberRangeDigits", 0)->type, kPropStr);
  // Every value reads back as the text of what was written.
  for (const PROP& p : set->props) {
    if (p.propname == "Version") continue;
    EXPECT_EQ(values(back.get(), p.propname), values(set.get(), p.propname)) << p.propname;
  }
}

TEST_F(ProperTest, ValueIndexesReplaceOrAppendAndLineEndsBecomeSpaces) {
  PropSetPtr set = propset_alloc("C", std::string("s"));
  PropPutStr(set.get(), "K", 0, "a");
  PropPutStr(set.get(), "K", -1, "b");
  PropPutStr(set.get(), "K", 5, "c");
  EXPECT_EQ(values(set.get(), "K"), (std::vector<std::string>{"a", "b", "c"}));
  PropPutStr(set.get(), "k", 1, "x");
  EXPECT_EQ(values(set.get(), "K"), (std::vector<std::string>{"a", "x", "c"}));
  EXPECT_EQ(set->props.size(), 1u);

  PropPutStr(set.get(), "Caption", 0, "line1\nline2\r\nline3");
  PropPutStr(set.get(), "Empty", 0, nullptr);
  EXPECT_EQ(values(set.get(), "Caption")[0], "line1 line2  line3");
  EXPECT_EQ(values(set.get(), "Empty")[0], "");
  ASSERT_TRUE(propset_write(set.get()));
  EXPECT_THAT(read_file(set_file("C", "s")), HasSubstr("\nCaption\tline1 line2  line3\nEmpty\t\n"));

  // Typed reads: default for a null set or a missing value, none for an integer.
  PropPutInt(set.get(), "N", 0, 3);
  EXPECT_EQ(PropGetStr(nullptr, "K", 0, "d"), "d");
  EXPECT_EQ(PropGetStr(set.get(), "K", 3, "d"), "d");
  EXPECT_EQ(PropGetStr(set.get(), "N", 0, "d"), std::nullopt);
  EXPECT_TRUE(PropPutStr(nullptr, "K", 0, "ignored"));
  PropRemove(set.get(), "k");
  EXPECT_EQ(prop_get(set.get(), "K", 0), nullptr);
}

TEST_F(ProperTest, ReadsCrlfRepeatedNamesTabsAndLongLines) {
  fs::create_directories(dir.str() + "/root/C");
  std::string long_value(3000, 'v');
  write_file(set_file("C", "win"),
             "Version\t1\r\nDate\tSat Dec  5 10:00:00 2026\r\n"
             "ExtensionsMRU\tExclude: DB\r\nExtensionsMRU\tInclude: NEF\r\n"
             "ExtensionsMRU\tx\r\n\t\tIndented\tvalue\twith tab\r\nBare\r\n\r\n"
             "Long\t" + long_value + "\n");
  PropSetPtr set = propset_get("C", std::string("win"));
  ASSERT_TRUE(set);
  EXPECT_EQ(values(set.get(), "ExtensionsMRU"),
            (std::vector<std::string>{"Exclude: DB", "Include: NEF", "x"}));
  EXPECT_EQ(values(set.get(), "Indented")[0], "value\twith tab");
  EXPECT_EQ(values(set.get(), "Bare")[0], "");
  // A line longer than the read buffer is parsed in pieces.
  ASSERT_EQ(prop_count(set.get(), "Long"), 1);
  EXPECT_EQ(values(set.get(), "Long")[0].size(), kPropLineMax - 1 - 5);
  ASSERT_TRUE(propset_write(set.get()));
  std::string text = read_file(set_file("C", "win"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 0);
  EXPECT_THAT(text, StartsWith("Version\t"));
  EXPECT_EQ(text.find("Version", 1), std::string::npos);
  EXPECT_EQ(text.find("Date", text.find("Date") + 1), std::string::npos);
  EXPECT_THAT(text, Not(HasSubstr("Dec  5 10:00:00 2026")));  // the write's own date

  // A line of nothing but tabs fails the read; a missing file fails and is logged.
  write_file(set_file("C", "bad"), "Version\t1\n\t\t\n");
  EXPECT_EQ(propset_get("C", std::string("bad")), nullptr);
  EXPECT_EQ(propset_get("C", std::string("missing")), nullptr);
  EXPECT_THAT(read_file(log_path()),
              HasSubstr("prop_read failed to open " + set_file("C", "missing")));
  // No name: the empty set at once.
  PropSetPtr empty = propset_get("C", std::nullopt);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->props.empty());
  EXPECT_FALSE(empty->modified);
}

TEST_F(ProperTest, MostRecentlyUsedListKeepsTenNewestFirst) {
  PropSetPtr set = propset_alloc("C", std::string("m"));
  for (int i = 0; i < 11; ++i) PropPutMRU(set.get(), ("Exclude: E" + std::to_string(i)).c_str());
  std::vector<std::string> mru = values(set.get(), "ExtensionsMRU");
  ASSERT_EQ(mru.size(), 10u);
  EXPECT_EQ(mru.front(), "Exclude: E10");
  EXPECT_EQ(mru.back(), "Exclude: E1");

  set->modified = false;
  PropPutMRU(set.get(), "exclude: e10");  // already first, compared without case
  EXPECT_FALSE(set->modified);
  EXPECT_EQ(values(set.get(), "ExtensionsMRU"), mru);

  std::vector<std::string> moved{"Exclude: E5"};  // moved to the front, nothing lost
  for (const std::string& e : mru)
    if (e != "Exclude: E5") moved.push_back(e);
  PropPutMRU(set.get(), "Exclude: E5");
  EXPECT_TRUE(set->modified);
  EXPECT_EQ(values(set.get(), "ExtensionsMRU"), moved);
}

TEST_F(ProperTest, ListsOnlyRegularFilesNotStartingWithDot) {
  EXPECT_EQ(propset_count("Empty"), 0);  // no folder yet
  for (const char* n : {"One", "Two", "Three"}) {
    PropSetPtr set = propset_alloc("L", std::string(n));
    PropPutStr(set.get(), "A", 0, n);
    ASSERT_TRUE(propset_write(set.get()));
  }
  write_file(set_file("L", ".Four"), "Version\t1\n");  // a write left unfinished
  fs::create_directories(set_file("L", "Folder"));
  EXPECT_EQ(propset_count("L"), 3);
  std::vector<std::string> names;
  std::optional<std::string> name;
  for (int i = 0; propset_getname("L", i, name) && name; ++i) names.push_back(*name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"One", "Three", "Two"}));
  EXPECT_TRUE(propset_getname("L", 3, name));
  EXPECT_FALSE(name);

  // Rename writes the new file and keeps the old one; delete removes a set.
  PropSetPtr one = propset_get("L", std::string("One"));
  ASSERT_TRUE(propset_rename(*one, "Uno"));
  EXPECT_TRUE(fs::exists(set_file("L", "One")));
  EXPECT_TRUE(fs::exists(set_file("L", "Uno")));
  EXPECT_TRUE(propset_delete("L", "One"));
  EXPECT_FALSE(propset_delete("L", "One"));
  EXPECT_EQ(propset_count("L"), 3);
}

// Values of the old and new versions used by the crash tests.
PropSetPtr make_version(const char* name, int version, int size) {
  PropSetPtr set = propset_alloc("Crash", std::string(name));
  for (int i = 0; i < size; ++i)
    PropPutStr(set.get(), "Key" + std::to_string(i), 0,
               (std::string(200, 'a' + version) + std::to_string(i)).c_str());
  PropPutInt(set.get(), "Version_", 0, version);
  return set;
}

TEST_F(ProperTest, CrashAtEveryStepOfAWriteLeavesOldOrNewSet) {
  PropSetPtr old_set = make_version("S", 0, 30);
  ASSERT_TRUE(propset_write(old_set.get()));
  const std::string old_text = body("Crash", "S");
  PropSetPtr new_set = make_version("S", 1, 30);

  // Count the steps of one write of the new version, then crash a child before each in turn.
  int steps = 0;
  PropSetPtr probe_set = make_version("Count", 1, 30);
  prop_set_write_probe([&](const char*) { return ++steps > 0; });
  ASSERT_TRUE(propset_write(probe_set.get()));
  prop_set_write_probe(nullptr);
  const std::string new_text = body("Crash", "Count");
  ASSERT_TRUE(propset_delete("Crash", "Count"));
  ASSERT_NE(old_text, new_text);
  ASSERT_GT(steps, 30);
  bool saw_new = false;
  for (int crash_at = 0; crash_at <= steps; ++crash_at) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int seen = 0;
      prop_set_write_probe([&](const char*) {
        if (seen++ == crash_at) _exit(3);  // no stdio flush, like a crash
        return true;
      });
      _exit(propset_write(new_set.get()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), crash_at < steps ? 3 : 0);
    const std::string now = body("Crash", "S");
    EXPECT_TRUE(now == old_text || now == new_text) << "crash before step " << crash_at;
    saw_new = saw_new || now == new_text;
  }
  EXPECT_TRUE(saw_new);
  EXPECT_EQ(propset_count("Crash"), 1);  // left-over "." files are never sets
}

TEST_F(ProperTest, InjectedFailureAtEachStepKeepsOldSetAndModifiedMark) {
  PropSetPtr old_set = make_version("F", 0, 5);
  ASSERT_TRUE(propset_write(old_set.get()));
  const std::string before = read_file(set_file("Crash", "F"));
  for (const char* step : {"open", "line", "flush", "sync", "close", "rename"}) {
    PropSetPtr new_set = make_version("F", 1, 5);
    prop_set_write_probe([&](const char* s) { return std::strcmp(s, step) != 0; });
    int depth = errstack_depth();
    EXPECT_FALSE(propset_write(new_set.get())) << step;
    prop_set_write_probe(nullptr);
    EXPECT_TRUE(new_set->modified) << step;
    EXPECT_GT(errstack_depth(), depth) << step;
    EXPECT_EQ(read_file(set_file("Crash", "F")), before) << step;
    EXPECT_FALSE(fs::exists(set_file("Crash", ".F"))) << step;
  }
}

}  // namespace
}  // namespace cw
