// Keyword vocabulary: stored form, loads that stop at a bad value, and edits.
#include "settings/vocabulary.h"

#include "tests/settings/settings_env.h"

namespace cw {
namespace {

std::vector<std::string> stored(const PROPSET* set) {
  std::vector<std::string> out;
  for (int i = 0; const PROPVAL* v = prop_get(set, "Vocabulary", i); ++i) out.push_back(v->strval);
  return out;
}

PropSetPtr set_with(const std::vector<std::string>& lines) {
  PropSetPtr set = propset_alloc("Preset_Master", std::nullopt);
  for (const std::string& l : lines) PropPutStr(set.get(), "Vocabulary", -1, l.c_str());
  return set;
}

TEST(VocabularyTest, LoadAndSaveRoundTripInPreOrder) {
  const std::vector<std::string> lines = {"01  Catalog Sets", "02* Portfolio", "01 +Keywords",
                                          "02 +Animals",      "03* Dog",       "03  Cat",
                                          "02* Family"};
  PropSetPtr set = set_with(lines);
  Vocabulary v;
  v.load(set.get());
  VocabItemObj* dog = v.find({"keywords", "animals", "dog"});
  ASSERT_NE(dog, nullptr);
  EXPECT_TRUE(dog->checked);
  EXPECT_EQ(dog->level, 3);
  EXPECT_TRUE(v.find({"Keywords", "Animals"})->expanded);
  EXPECT_FALSE(v.find({"Keywords", "Animals", "Cat"})->checked);
  EXPECT_EQ(v.find({"Keywords"})->children.size(), 2u);
  PropSetPtr out = set_with({"stale", "values", "gone"});
  ASSERT_TRUE(v.save(out.get()));
  EXPECT_EQ(stored(out.get()), lines);
}

TEST(VocabularyTest, FreshVocabularyHasTheHeadingsAndLoadStopsAtABadLine) {
  // A single value is no vocabulary: the two headings, and nothing stored.
  PropSetPtr set = set_with({"01  Only one value"});
  Vocabulary v;
  v.load(set.get());
  ASSERT_EQ(v.root().children.size(), 2u);
  EXPECT_EQ(v.root().text, "ROOT");
  EXPECT_EQ(v.root().children[0].text, "Catalog Sets");
  EXPECT_EQ(v.root().children[1].text, "Keywords");
  EXPECT_TRUE(v.root().children[1].keywords_heading);
  EXPECT_FALSE(v.root().children[0].keywords_heading);
  EXPECT_EQ(stored(set.get()), std::vector<std::string>{"01  Only one value"});

  // A skipped level or a bad value ends the load there.
  set = set_with({"01  Catalog Sets", "03  Too deep", "01  Keywords", "02  Lost"});
  v.load(set.get());
  ASSERT_EQ(v.root().children.size(), 1u);
  EXPECT_TRUE(v.root().children[0].children.empty());

  PropSetPtr bad = set_with({"01  Catalog Sets", "02  Kept", "x", "01  Keywords"});
  v.load(bad.get());
  ASSERT_EQ(v.root().children.size(), 1u);
  EXPECT_EQ(v.root().children[0].children[0].text, "Kept");
}

TEST(VocabularyTest, EditsSaveTheWholeTreeAtOnce) {
  PropSetPtr set = propset_alloc("Preset_Master", std::nullopt);
  Vocabulary v;
  v.load(set.get());
  VocabItemObj* item = v.add_child(*v.find({"Keywords"}), set.get());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text, "NewItem");
  EXPECT_EQ(item->level, 2);
  EXPECT_EQ(stored(set.get()),
            (std::vector<std::string>{"01  Catalog Sets", "01 +Keywords", "02  NewItem"}));
  ASSERT_TRUE(v.rename(*item, "Animals", set.get()));
  VocabItemObj* dog = v.add_child(*v.find({"Keywords", "Animals"}), set.get());
  ASSERT_TRUE(v.rename(*dog, "Dog", set.get()));
  ASSERT_TRUE(v.set_checked(*dog, true, set.get()));
  EXPECT_EQ(stored(set.get()), (std::vector<std::string>{"01  Catalog Sets", "01 +Keywords",
                                                         "02 +Animals", "03* Dog"}));
  // Headings cannot be deleted; a keyword goes with its subtree.
  EXPECT_FALSE(v.remove(*v.find({"Keywords"}), set.get()));
  ASSERT_TRUE(v.remove(*v.find({"Keywords", "Animals"}), set.get()));
  EXPECT_EQ(stored(set.get()), (std::vector<std::string>{"01  Catalog Sets", "01 +Keywords"}));
}

}  // namespace
}  // namespace cw
