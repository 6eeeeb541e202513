// Presets: defaults, the master's merge, commands, quick fields and cross-field rules, and the
// keyword vocabulary they hold: its stored form, loads that stop at a bad value, and edits.
#include "settings/preset.h"

#include <filesystem>

#include "settings/param.h"
#include "settings/preferences.h"
#include "settings/vocabulary.h"
#include "tests/settings/settings_env.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::asked;
using test::captured_ui;
using test::read_file;
using PresetTest = test::SettingsTest;

std::vector<std::string> alerts() { return captured_ui().alerts; }

TEST_F(PresetTest, NothingStoredLoadsTheDefaultsQuietly) {
  CWParam param;
  param.load_presets();
  EXPECT_TRUE(alerts().empty());
  for (int k = 0; k < kPresetKinds; ++k) EXPECT_EQ(param.presets[k]->name, "Default");
  EXPECT_EQ(param.master().get_int("WantBackup"), 1);  // a pre-conversion backup unless told
  EXPECT_EQ(param.find_by_label("file handling"), &param.preset(PresetKind::File));
  EXPECT_EQ(param.find_by_label("Files"), nullptr);
}

TEST_F(PresetTest, TypedAccessConvertsAndReportsAMissingSet) {
  CWParam param;
  CWPreset& m = param.master();
  m.put_str("NumberRangeDigits", "5");
  m.put_int("Caption", 3);
  EXPECT_EQ(m.get_int("NumberRangeDigits", 4), 5);  // stored text read with atoi
  EXPECT_EQ(m.get_str("Caption", "x"), std::nullopt);  // an integer has no text
  EXPECT_EQ(m.get_str("Missing", "x"), "x");

  m.set.reset();
  EXPECT_EQ(m.get_int("A", 7), 0);
  EXPECT_EQ(m.get_str("A", "x"), std::nullopt);
  EXPECT_FALSE(m.put_int("A", 1));
  EXPECT_FALSE(m.put_str("A", "v"));
  bool changed = false;
  EXPECT_FALSE(m.command("Save", changed, asked()));
  EXPECT_EQ(alerts(), (std::vector<std::string>{"Preset error - not initialized (CWParam-9)",
                                                 "Preset error - not initialized (CWParam-10)",
                                                 "Preset error - not initialized (CWParam-11)",
                                                 "Preset error - not initialized (CWParam-12)",
                                                 "Preset error - not initialized (CWParam-3)"}));
  captured_ui().clear();
  EXPECT_FALSE(param.store_extension_filter(false, "NEF"));
  EXPECT_EQ(alerts(), std::vector<std::string>{"Preset error - not initialized (CWParam-15)"});
  EXPECT_EQ(captured_ui().pane, "\nERROR: Can't store MRU extensions.\n");
}

TEST_F(PresetTest, MasterLoadMergesItsComponents) {
  store("Preset_Master", "Studio",
        {{"PresetFile", "Gone"},
         {"PresetDestination", "Away"},
         {"PresetKeywords", "Family"},
         {"NameFormat", "master-name"},
         {"PrimaryFolder", "/master/primary"},
         {"Vocabulary", "01  Catalog Sets"},
         {"Vocabulary", "01  Stale"}});
  store("Preset_Destination", "Away", {{"PrimaryFolder", "/component/primary"}});
  store("Preset_Keywords", "Family",
        {{"Vocabulary", "01  Catalog Sets"}, {"Vocabulary", "01 +Keywords"},
         {"Vocabulary", "02* Dog"}});
  pref_put_text("Preset_Master", "Studio");

  CWParam param;
  param.load_presets();
  CWPreset& m = param.master();
  EXPECT_EQ(m.set->setname, "Studio");
  // A component value overrides the master's; a missing component keeps the master's values.
  EXPECT_EQ(m.get_str("PrimaryFolder"), "/component/primary");
  EXPECT_EQ(m.get_str("NameFormat"), "master-name");
  EXPECT_EQ(alerts(),
            std::vector<std::string>{"Preset error - can't read preset \"Gone\" (CWParam-18)"});
  // The master's own vocabulary is dropped; the keywords component's takes its place.
  EXPECT_EQ(prop_count(m.set.get(), "Vocabulary"), 3);
  EXPECT_EQ(PropGetStr(m.set.get(), "Vocabulary", 2, ""), "02* Dog");

  // A component named "Default" that was never saved is not an error.
  captured_ui().clear();
  store("Preset_Master", "Plain", {{"PresetFile", "Default"}});
  EXPECT_TRUE(m.load(std::string("Plain")));
  EXPECT_TRUE(alerts().empty());
  EXPECT_FALSE(m.load(std::string("Nowhere")));
  EXPECT_EQ(alerts(), std::vector<std::string>{"Can't read preset \"Nowhere\". Default assumed."});
  EXPECT_FALSE(m.set->setname);
}

TEST_F(PresetTest, SaveSaveAsRenameAndDelete) {
  CWParam param;
  CWPreset& photog = param.preset(PresetKind::Photog);
  bool changed = false;
  photog.put_str("Creator", "Ann");
  ASSERT_TRUE(photog.command("Save", changed, asked()));  // an unnamed set is stored as "Default"
  EXPECT_TRUE(fs::exists(set_file("Preset_Photog", "Default")));
  EXPECT_EQ(pref_get_text("Preset_Photog"), "Default");

  captured_ui().text_answers = {std::nullopt};
  EXPECT_FALSE(photog.command("Save As...", changed, asked()));
  EXPECT_FALSE(changed);
  captured_ui().text_answers = {std::string("Studio")};
  ASSERT_TRUE(photog.command("Save As...", changed, asked()));
  EXPECT_TRUE(changed);
  EXPECT_EQ(pref_get_text("Preset_Photog"), "Studio");
  EXPECT_TRUE(fs::exists(set_file("Preset_Photog", "Default")));  // the old file stays

  captured_ui().text_answers = {std::string("Studio")};  // same name: the file stays
  ASSERT_TRUE(photog.command("Rename...", changed, asked()));
  EXPECT_TRUE(fs::exists(set_file("Preset_Photog", "Studio")));
  captured_ui().text_answers = {std::string(250, 'n')};  // cut to 200 characters
  ASSERT_TRUE(photog.command("Rename...", changed, asked()));
  EXPECT_FALSE(fs::exists(set_file("Preset_Photog", "Studio")));
  EXPECT_TRUE(fs::exists(set_file("Preset_Photog", std::string(200, 'n'))));
  captured_ui().text_answers = {std::string(".hidden")};
  EXPECT_FALSE(photog.command("Rename...", changed, asked()));

  captured_ui().clear();
  captured_ui().yes_no_answers = {false};
  EXPECT_FALSE(photog.command("Delete", changed, asked()));
  EXPECT_FALSE(changed);
  EXPECT_EQ(captured_ui().questions.back(),
            "OK to delete preset \"" + std::string(200, 'n') + "\"?");
  captured_ui().yes_no_answers = {true};
  ASSERT_TRUE(photog.command("Delete", changed, asked()));
  EXPECT_FALSE(fs::exists(set_file("Preset_Photog", std::string(200, 'n'))));
  EXPECT_EQ(photog.name, "Default");
  EXPECT_EQ(pref_get_text("Preset_Photog"), "Default");
  EXPECT_EQ(photog.get_str("Creator", "none"), "none");

  ASSERT_TRUE(photog.command("Default", changed, asked()));  // select from the list
  EXPECT_FALSE(changed);
  EXPECT_FALSE(photog.command("Delete", changed, asked()));
  EXPECT_EQ(alerts().back(), "Can't delete Default preset.");
  EXPECT_EQ(photog.names(), std::vector<std::string>{"Default"});

  // Deleting a content preset leaves its defaults in place.
  CWPreset& content = param.preset(PresetKind::Content);
  captured_ui().text_answers = {std::string("Event")};
  ASSERT_TRUE(content.command("Save As...", changed, asked()));
  content.put_str("Caption", "custom");
  captured_ui().yes_no_answers = {true};
  ASSERT_TRUE(content.command("Delete", changed, asked()));
  EXPECT_EQ(content.get_str("Caption", ""), "{@QF.subject}");
}

TEST_F(PresetTest, ComponentSavesCopyTheirGroupOutOfTheWorkingSet) {
  CWParam param;
  CWPreset& m = param.master();
  m.put_str("PrimaryFolder", "/archive");
  m.put_int("WantBackup", 0);
  m.put_str("NameFormat", "{@filename}");
  m.put_str("MetaPhotog", "Ann");
  bool changed = false;
  captured_ui().text_answers = {std::string("Archive")};
  ASSERT_TRUE(param.preset(PresetKind::Destination).command("Save As...", changed, asked()));
  std::string text = read_file(set_file("Preset_Destination", "Archive"));
  EXPECT_THAT(text, HasSubstr("\nPrimaryFolder\t/archive\n"));
  EXPECT_THAT(text, HasSubstr("\nWantBackup\t0\n"));
  EXPECT_THAT(text, HasSubstr("\nNumberRangeDigits\t4\n"));  // defaults stored too
  EXPECT_THAT(text, Not(HasSubstr("NameFormat")));        // not its group
  EXPECT_THAT(text, Not(HasSubstr("ShowFolderMacros")));  // no default, absent
  EXPECT_EQ(m.get_str("PresetDestination"), "Archive");

  ASSERT_TRUE(param.preset(PresetKind::Meta).command("Save", changed, asked()));
  text = read_file(set_file("Preset_Meta", "Default"));
  EXPECT_THAT(text, HasSubstr("\nMetaPhotog\tAnn\nMetaContent\tDefault\nMetaRights\tDefault\n"
                              "EnableMeta\t1\n"));
  EXPECT_EQ(m.get_str("PresetMeta"), "Default");

  // Keywords saved without check marks: the third character of every line is a space.
  for (const char* line : {"01  Catalog Sets", "01 +Keywords", "02*+Animals", "", "03* Dog"})
    PropPutStr(m.set.get(), "Vocabulary", -1, line);
  captured_ui().clear();
  captured_ui().yes_no_answers = {false};
  captured_ui().text_answers = {std::string("Pets")};
  ASSERT_TRUE(param.preset(PresetKind::Keywords).command("Save As...", changed, asked()));
  EXPECT_EQ(captured_ui().questions.front(), "Include checkmarks in preset?");
  text = read_file(set_file("Preset_Keywords", "Pets"));
  EXPECT_THAT(text, HasSubstr("\nVocabulary\t01  Catalog Sets\nVocabulary\t01 +Keywords\n"
                              "Vocabulary\t02 +Animals\nVocabulary\t03  Dog\n"));
  EXPECT_EQ(PropGetStr(m.set.get(), "Vocabulary", 3, ""), "03  Dog");
  EXPECT_EQ(m.get_str("PresetKeywords"), "Pets");

  // Selecting a component brings its values into the working set and names it there; its
  // switches meet the working set's as if switched by hand: no converter without a backup.
  store("Preset_File", "Raw",
        {{"KeepRaw", "1"}, {"ExtensionsMRU", "Include: NEF"}, {"CameraZone", "Europe/Berlin"}});
  ASSERT_TRUE(param.select(PresetKind::File, "Raw", asked()));
  EXPECT_EQ(m.get_int("KeepRaw"), 0);
  EXPECT_EQ(alerts().back(), "DNG Converter can run only if a pre-conversion backup is created.");
  m.put_int("WantBackup", 1);
  ASSERT_TRUE(param.select(PresetKind::File, "Raw", asked()));
  EXPECT_EQ(m.get_int("KeepRaw"), 1);
  EXPECT_EQ(m.get_str("PresetFile"), "Raw");
  EXPECT_EQ(m.get_str("CameraZone"), "Europe/Berlin");  // a zone name kept as it was typed
  EXPECT_EQ(m.get_str("ConverterApp"), "");  // no converter until one is set
  EXPECT_EQ(prop_count(m.set.get(), "ExtensionsMRU"), 1);
  EXPECT_TRUE(m.unsaved);
}

TEST_F(PresetTest, SelectionAsksAboutUnsavedChangesWhileTheReminderIsOn) {
  store("Preset_Rights", "Mine", {{"Copyright", "(c) Ann"}});
  CWParam param;
  param.mark_unsaved(PresetKind::Rights);
  EXPECT_TRUE(param.master().unsaved);
  EXPECT_TRUE(param.master_save_allowed());  // rights do not block the master
  param.mark_unsaved(PresetKind::File);
  EXPECT_FALSE(param.master_save_allowed());
  EXPECT_EQ(alerts().back(),
            "You must first save the File Handling, Metadata, and/or Keywords presets.");

  captured_ui().yes_no_answers = {false};
  EXPECT_FALSE(param.select(PresetKind::Rights, "Mine", asked()));
  EXPECT_EQ(captured_ui().questions.back(),
            "You have one or more unsaved presets. OK to lose settings?");
  captured_ui().yes_no_answers = {true};
  ASSERT_TRUE(param.select(PresetKind::Rights, "Mine", asked()));
  EXPECT_EQ(param.preset(PresetKind::Rights).get_str("Copyright", ""), "(c) Ann");
  EXPECT_EQ(param.master().get_str("MetaRights"), "Mine");

  pref_put_int("PresetReminder", 0);
  param.mark_unsaved(PresetKind::Rights);
  const std::size_t questions_before = captured_ui().questions.size();
  EXPECT_TRUE(param.select(PresetKind::Rights, "Mine", asked()));
  EXPECT_EQ(captured_ui().questions.size(), questions_before);
  EXPECT_FALSE(param.select(PresetKind::Rights, "Missing", asked()));
  EXPECT_EQ(pref_get_text("Preset_Rights"), "Default");
}

TEST_F(PresetTest, QuickFieldLabelsAreCollectedOnceAcrossCaseAndSpaces) {
  CWParam param;
  param.master().put_str("NameFormat", "{@qf.Job}_{@filename}");
  param.master().put_str("FolderFormat", "{@QF.  job  }/x");
  param.master().put_int("NotText", 5);
  param.preset(PresetKind::Photog).put_str("Creator", "{@Qf.Photographer }");
  param.preset(PresetKind::Rights).put_str("Copyright", "{@qf." + std::string(100, 'L') + "}");
  param.preset(PresetKind::Rights).put_str("Source", "{@qf.unclosed");
  param.rebuild_quick_fields();
  // The content defaults contribute job, location and subject.
  EXPECT_EQ(param.quick_field_labels,
            (std::vector<std::string>{"Job", "location", "Photographer", "subject"}));

  std::string results;
  EXPECT_TRUE(param.quick_fields_fit(results));
  for (const char* l : {"a1", "a2", "a3", "a4", "a5"})
    param.quick_field_labels.push_back(l);
  EXPECT_FALSE(param.quick_fields_fit(results));
  EXPECT_EQ(results,
            "\nToo many Quick Field labels. A maximum of 8 are allowed.\n\n"
            "No room for Quick Field label \"a5\".\n");
  EXPECT_EQ(alerts().back(), "Too many Quick Field labels.\r\n\r\nSee Results field for details.");
}

TEST_F(PresetTest, ExtensionFilterEditsKeepANormalisedMostRecentList) {
  CWParam param;
  CWPreset_Master& m = param.master();
  ASSERT_TRUE(param.store_extension_filter(true, "  .NEF   .cr2  jpg "));
  bool include = false;
  EXPECT_EQ(m.extensions(include), "NEF cr2 jpg");
  EXPECT_TRUE(include);
  ASSERT_TRUE(param.store_extension_filter(false, ""));
  EXPECT_TRUE(alerts().empty());
  EXPECT_EQ(m.extensions(include), "[none]");
  EXPECT_FALSE(include);
  ASSERT_TRUE(param.store_extension_filter(true, " . "));
  EXPECT_EQ(alerts(),
            std::vector<std::string>{"Including no extensions will prevent ingestion of any files."});
  EXPECT_EQ(PropGetStr(m.set.get(), "ExtensionsMRU", 0, ""), "Include: [none]");
  ASSERT_TRUE(param.store_extension_filter(true, "NEF CR2 JPG"));  // moved to the front
  EXPECT_EQ(prop_count(m.set.get(), "ExtensionsMRU"), 3);

  // What the filters admit.
  EXPECT_TRUE(extension_filter_admits(false, "[none]", "NEF"));
  EXPECT_FALSE(extension_filter_admits(true, "[none]", "NEF"));
  EXPECT_TRUE(extension_filter_admits(true, "NEF cr2", "CR2"));
  EXPECT_FALSE(extension_filter_admits(true, "NEF cr2", "JPG"));
  // The default exclusions, compared without case and never by prefix.
  std::string excluded = CWParam().master().extensions(include);
  for (const char* ext : {"BC", "bct", "ID", "SYS"})
    EXPECT_FALSE(extension_filter_admits(include, excluded, ext)) << ext;
  EXPECT_TRUE(extension_filter_admits(include, excluded, "NEF"));
  EXPECT_TRUE(extension_filter_admits(include, excluded, "B"));
}

TEST_F(PresetTest, CrossFieldRulesUndoImpossibleCombinations) {
  CWParam param;
  CWPreset_Master& m = param.master();
  m.put_int("WantBackup", 0);
  EXPECT_FALSE(param.switch_keep_raw_on());
  EXPECT_EQ(m.get_int("KeepRaw"), 0);
  EXPECT_EQ(alerts().back(), "DNG Converter can run only if a pre-conversion backup is created.");

  m.put_int("WantBackup", 1);
  EXPECT_TRUE(param.switch_keep_raw_on());
  m.put_int("WantBackupPost", 1);
  captured_ui().clear();
  EXPECT_FALSE(param.switch_want_backup_off());
  EXPECT_EQ(m.get_int("KeepRaw"), 0);
  EXPECT_EQ(m.get_int("WantBackupPost"), 0);
  EXPECT_EQ(alerts(),
            (std::vector<std::string>{
                "DNG Conversion/Verification can run only if a backup is created.",
                "Post-conversion backup allowed only if pre-conversion backup created."}));

  captured_ui().clear();
  m.put_int("KeepRaw", 1);
  m.put_str("Template", "Old-Template");
  EXPECT_FALSE(param.check_applied_master());
  EXPECT_EQ(m.get_str("Template"), "Cardwright-IPTC.3.4");
  ASSERT_EQ(alerts().size(), 2u);
  EXPECT_EQ(alerts()[0],
            "DNG Converter can be run only if there's a pre-conversion backup. Change either the "
            "Destination or File Handling settings.");
  EXPECT_THAT(alerts()[1], StartsWith("Warning: XMP template was set with Cardwright Version 2"));
}

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
