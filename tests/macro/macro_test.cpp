// The macro expander against an in-memory environment.
#include <gtest/gtest.h>

#include "metadata/macro.h"
#include "metadata/macro_exif.h"
#include "metadata/macro_reference.h"
#include "settings/param_list.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/bmff_builder.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using test::captured_ui;
using test::TempDir;
using test::write_file;

class MacroTest : public ::testing::Test {
 protected:
  void SetUp() override {
    in.cur_filename = "ABCD0001";
    in.cur_datetime = "20110305_142233";
    in.cur_sequence = "000123";
    in.unique_id = "5F3A1B2C00042";
    in.number_range = "#NNN-RRR#";
    in.ext = "NEF";
  }
  std::string expand(const std::string& text) {
    std::string out;
    EXPECT_TRUE(macro_process_with_data(text, out, in, env));
    return out;
  }
  // An image whose EXIF holds the given pairs.
  void image(ExifPairs pairs) {
    in.cur_path = "/card/DCIM/ABCD0001.NEF";
    env.images[*in.cur_path] = std::move(pairs);
  }
  MacroInputs in;
  MemoryMacroEnvironment env;
};

TEST_F(MacroTest, SubstringArithmetic) {
  EXPECT_EQ(expand("{@filename,-4}"), "0001");
  EXPECT_EQ(expand("{@filename,1,4}"), "ABCD");
  EXPECT_EQ(expand("{@filename,-20}"), "ABCD0001");   // before the start: whole name
  EXPECT_EQ(expand("[{@filename,20}]"), "[]");         // past the end: empty
  EXPECT_EQ(expand("{@filename,0,2}"), "AB");          // start 0 acts as start 1
  EXPECT_EQ(expand("{@filename,8}"), "1");             // the last character
  EXPECT_EQ(expand("{@filename,3,-1}"), "CD0001");     // negative length: to the end
  EXPECT_EQ(expand("{@filename,5,99}"), "0001");       // length past the end
  EXPECT_EQ(expand("[{@filename,2,0,_}]"), "[]");      // zero length: empty, no suffix
  EXPECT_EQ(expand("{@filename,,5}"), "0001");         // empty fields are skipped
  EXPECT_EQ(expand("{@filename,x,2}"), "AB");          // not a number reads as 0
  EXPECT_EQ(expand("{@filename,-99999999999,2}"), "AB");  // huge numbers saturate
  EXPECT_EQ(expand("{@filename,1,2,_,ignored}"), "AB_");  // fields after the fourth
  EXPECT_EQ(expand("{@datetime,3,2}{@datetime,5,4}"), "110305");
  in.cur_filename = "Caf\xC3\xA9" "0001";  // UTF-8 names are cut by characters
  EXPECT_EQ(expand("{@filename,-5}"), "\xC3\xA9" "0001");
  EXPECT_EQ(expand("{@filename,4,1}"), "\xC3\xA9");
}

TEST_F(MacroTest, NamesSuffixesAndSimpleValues) {
  EXPECT_EQ(expand("{@prefix,1,-1,_}x"), "IMG_x");
  env.set_master("FilenamePrefix", PresetValue::of(""));
  EXPECT_EQ(expand("{@prefix,1,-1,_}x"), "x");
  env.set_master("filenameprefix", PresetValue::of("  KTP "));  // trimmed of spaces
  EXPECT_EQ(expand("{@PREFIX,1,-1,_}x"), "KTP_x");
  EXPECT_EQ(expand("{@Filename,1,2,Ab}{@FILENAME,-1}"), "ABAb1");  // suffix keeps its case
  EXPECT_EQ(expand("{@extension}.{@sequence}.{@uniqueid}.{@numberrange}"),
            "NEF.000123.5F3A1B2C00042.#NNN-RRR#");
  EXPECT_EQ(expand("{@sourcepath}"), ".");
  in.cur_relPath = "DCIM/100NIKON";
  EXPECT_EQ(expand("{@sourcepath}"), "DCIM/100NIKON");
  EXPECT_EQ(expand("{@qf.subject}|{@qf.missing}|"), "||");
  env.set_master("qf_Subject", PresetValue::of("Wedding"));
  env.set_master("qf_number", PresetValue::other());  // not text: empty
  EXPECT_EQ(expand("{@qf.subject}|{@qf.number}|"), "Wedding||");
  env.notes = std::string(600, 'n');
  EXPECT_EQ(expand("{@notes}").size(), kMacroShortValueMax);
  env.set_master("qf_long", PresetValue::of(std::string(2500, 'q')));
  EXPECT_EQ(expand("{@qf.long}").size(), kMacroValueMax);
  EXPECT_EQ(expand("{@datetimemonth} {@datetimeweekday}"), "March Saturday");
  in.cur_datetime = "YYYYMMDD_hhmmss";
  EXPECT_EQ(expand("{@datetimemonth} {@datetimeweekday}"), "September Thursday");
  EXPECT_EQ(expand("{@datetimecurrent}").size(), 15u);
}

TEST_F(MacroTest, UnresolvableMacrosStayVerbatimAndEmptyValuesEatSpaces) {
  EXPECT_EQ(expand("a{@nosuch}b"), "a{@nosuch}b");
  EXPECT_EQ(expand("{@datetimeextra}|{@datetimeoriginal}|{@}|{@,,}"),
            "{@datetimeextra}|{@datetimeoriginal}|{@}|{@,,}");
  EXPECT_EQ(expand("{@exif.Bogus}"), "[Unknown macro: bogus]");
  // The macro text from "{" up to the "}" may hold 99 characters.
  std::string fits = "{@filename,1,2," + std::string(99 - 15, 'x') + "}";
  EXPECT_EQ(expand(fits), "AB" + std::string(99 - 15, 'x'));
  std::string too_long = "{@filename,1,2," + std::string(100 - 15, 'x') + "}";
  EXPECT_EQ(expand(too_long + "!"), too_long + "!");
  // An unterminated "{@" ends the expansion; the rest is copied unchanged.
  EXPECT_EQ(expand("{@filename}/{@filename,1,4"), "ABCD0001/{@filename,1,4");
  EXPECT_EQ(expand("x{@"), "x{@");
  EXPECT_EQ(expand("{@ {@filename}"), "{@ {@filename}");
  EXPECT_EQ(expand("{@nosuch.table}|{@client.}|{@" + std::string(50, 't') + ".name}"),
            "{@nosuch.table}|{@client.}|{@" + std::string(50, 't') + ".name}");
  // An empty value swallows the spaces after it and one line break.
  EXPECT_EQ(expand("a {@keywords}   b"), "a b");
  EXPECT_EQ(expand("x{@keywords}  &#xA;&#xA;y"), "x&#xA;y");
  EXPECT_EQ(expand("x{@keywords}\t y"), "x\t y");  // only spaces (32) go
  EXPECT_EQ(expand("{@filename,20,1}  &#xA;"), "");
  // IPTC fields need the metadata presets.
  env.iptc_loaded = false;
  EXPECT_EQ(expand("{@iptc.Creator}"), "{@iptc.Creator}");
}

TEST_F(MacroTest, ValuesAreExpandedAgainUpToDepthThree) {
  env.notes = "[{@filename,-4}]";
  EXPECT_EQ(expand("{@notes}"), "[0001]");
  env.notes = "{@qf.a}";
  env.set_master("qf_a", PresetValue::of("{@qf.b}"));
  env.set_master("qf_b", PresetValue::of("{@qf.c}"));
  env.set_master("qf_c", PresetValue::of("end"));
  EXPECT_EQ(expand("{@qf.b}"), "end");
  EXPECT_EQ(expand("{@notes}"), "{@qf.c}");  // the third level is inserted as it is
  // A value that names itself stops at the same depth.
  env.set_master("qf_self", PresetValue::of("<{@qf.self}>"));
  EXPECT_EQ(expand("{@qf.self}"), "<<<{@qf.self}>>>");
}

TEST_F(MacroTest, XmlEscapingListItemsAndIptcPresetOrder) {
  in.xml = true;
  env.notes = "a & <b> \"c\" <rdf:li>x</rdf:li>";
  EXPECT_EQ(expand("{@notes,1,-1,<&>}"), "a &amp; &lt;b&gt; \"c\" <rdf:li>x</rdf:li><&>");
  env.set_iptc(IptcPreset::Content, "Keywords", PresetValue::of("  dog ;  cat  ,bird "));
  EXPECT_EQ(expand("<rdf:li>{@iptc.keywords}</rdf:li>"),
            "<rdf:li>dog</rdf:li><rdf:li>cat</rdf:li><rdf:li>bird</rdf:li>");
  // Semicolons of entity references are not item ends.
  env.set_iptc(IptcPreset::Content, "People", PresetValue::of("Tom & Jerry; Ann"));
  EXPECT_EQ(expand("{@iptc.People}"), "Tom &amp; Jerry</rdf:li><rdf:li>Ann");
  // Other fields are not lists; the list flag holds for the nested expansion only.
  env.set_iptc(IptcPreset::Content, "Caption", PresetValue::of("a;b"));
  env.set_iptc(IptcPreset::Content, "OtherCategories", PresetValue::of("{@qf.k}"));
  env.set_master("qf_k", PresetValue::of("x,y"));
  EXPECT_EQ(expand("{@iptc.Caption}|{@iptc.OtherCategories}|{@qf.k}"),
            "a;b|x</rdf:li><rdf:li>y|x,y");
  in.xml = false;
  EXPECT_EQ(expand("{@notes,1,5}"), "a & <");
  // IPTC fields search the presets in order.
  env.set_iptc(IptcPreset::Rights, "City", PresetValue::of("Rights"));
  env.set_iptc(IptcPreset::Content, "City", PresetValue::of("Content"));
  EXPECT_EQ(expand("{@iptc.city}"), "Content");
  env.set_iptc(IptcPreset::Photographer, "City", PresetValue::other());  // has it, not text
  EXPECT_EQ(expand("[{@iptc.City}]"), "[]");
  EXPECT_EQ(expand("[{@iptc.Nothing}]"), "[]");
}

TEST_F(MacroTest, VocabularyPathsJoinedByBars) {
  for (const char* v : {"01  Catalog Sets", "02  Trips", "03* Rome", "03  Paris", "01 +Keywords",
                        "02  Animals", "03* Dog", "04* Puppy", "02* Cars"})
    env.vocabulary.push_back(PresetValue::of(v));
  EXPECT_EQ(expand("{@catalogsets}"), "Trips|Rome");
  EXPECT_EQ(expand("{@keywords}"),
            "Animals|Dog</rdf:li>\n<rdf:li>Animals|Dog|Puppy</rdf:li>\n<rdf:li>Cars");
  in.xml = true;  // the entry separators survive escaping
  EXPECT_EQ(expand("{@keywords,1,20}"), "Animals|Dog</rdf:li>");
  // A stored value that is too short or not text makes the vocabulary unreadable, and with
  // it every macro.
  env.vocabulary.push_back(PresetValue::of("02"));
  EXPECT_EQ(expand("{@keywords}{@filename}"), "{@keywords}{@filename}");
}

TEST_F(MacroTest, ExifNamesAndTheCaptureDateFallingBackThroughTheThreeDates) {
  // Without an image the lowered name shows in square brackets.
  EXPECT_EQ(expand("{@exif.Make} {@exif.DateTimeOriginalMonth}"),
            "[make] [datetimeoriginalmonth]");
  EXPECT_EQ(expand("{@datetimeany}"), "[datetimeoriginal]");
  in.cur_datetime = "YYYYMMDD_hhmmss";
  EXPECT_EQ(expand("{@datetimeany}"), "YYYYMMDD_hhmmss");
  image({{"Make", "NIKON CORPORATION"}, {"CameraSerialNumber", "3001234"},
         {"ExposureTime", "1/250"}, {"DateTimeOriginal", "2011:03:05 14:22:33"}});
  EXPECT_EQ(expand("{@exif.makefirstword}|{@exif.SerialNumber}|{@exif.ExposureTime}|"
                   "{@exif.DateTime}|{@exif.DateTimeOriginalWeekday}"),
            "NIKON|3001234|1/250|20110305_142233|Saturday");
  in.cur_datetime = "20110305_142233";
  image({{"Make", "NIKON CORPORATION"}, {"DateTimeChanged", "2012:01:02 03:04:05"}});
  EXPECT_EQ(expand("{@datetimeany}"), "20120102_030405");
  EXPECT_EQ(exif_capture_datetime(env, *in.cur_path), std::nullopt);
  image({{"DateTimeChanged", "2012:01:02 03:04:05"}, {"DateTimeDigitized", "2011:03:05 14:22:33"}});
  EXPECT_EQ(expand("{@datetimeany}"), "20110305_142233");
  EXPECT_EQ(exif_capture_datetime(env, *in.cur_path), "20110305_142233");
  image({{"DateTimeDigitized", "2011:03:05 14:22:33"}, {"DateTimeOriginal", "2010:12:24 18:00:00"},
         {"datetimeoriginal", "2000:01:01 00:00:00"}});  // the first pair of a name counts
  EXPECT_EQ(expand("{@datetimeany}"), "20101224_180000");
  EXPECT_EQ(expand("{@datetimeanymonth} {@DateTimeAnyWeekday} {@exif.DateTimeDigitizedMonth}"),
            "December Friday March");
  EXPECT_EQ(exif_capture_datetime(env, *in.cur_path), "20101224_180000");
  image({});
  EXPECT_EQ(expand("{@datetimeany} {@datetimeanymonth}"), "20110305_142233 March");
  image({{"DateTimeOriginal", "    :  :     :  :  "}, {"DateTimeChanged", "-2147483648:1:1 0:0:0"}});
  EXPECT_EQ(expand("[{@exif.DateTimeOriginal}]"), "[:  :     :  :]");  // not a date: unchanged
  EXPECT_EQ(expand("{@exif.DateTimeChanged}"), "00000000_000000");
  // A camera whose clock was never set, and a day the month does not have: no date at all,
  // so datetimeany takes the file's time.
  image({{"DateTimeOriginal", "0000:00:00 00:00:00"}, {"DateTimeChanged", "2023:02:29 10:00:00"}});
  EXPECT_EQ(expand("{@datetimeany} {@exif.DateTimeOriginalMonth} {@exif.DateTimeChanged}"),
            "20110305_142233 00000000_000000 00000000_000000");
  EXPECT_EQ(exif_capture_datetime(env, *in.cur_path), std::nullopt);
  image({{"DateTimeOriginal", "    :  :     :  :  "}, {"DateTimeDigitized", "2011:03:05 14:22:33"}});
  EXPECT_EQ(expand("{@datetimeany}"), "20110305_142233");
  EXPECT_EQ(exif_capture_datetime(env, *in.cur_path), "20110305_142233");
  // An image that cannot be read gives empty values; datetimeany takes cur_datetime.
  in.cur_path = "/card/unreadable.NEF";
  EXPECT_EQ(expand("{@datetimeany}|{@exif.make}|"), "20110305_142233||");
}

TEST_F(MacroTest, ExifDatesKeepTheirWallClockAcrossDaylightSaving) {
  test::ScopedZone berlin("Europe/Berlin");
  image({{"DateTimeOriginal", "2011:07:05 14:22:33"}, {"DateTimeDigitized", "2011:01:05 14:22:33"}});
  EXPECT_EQ(expand("{@exif.DateTimeOriginal}"), "20110705_142233");
  EXPECT_EQ(expand("{@exif.DateTimeDigitized}"), "20110105_142233");
}

TEST_F(MacroTest, FilenameNewExpandsTheNameFormat) {
  EXPECT_EQ(expand("{@filenamenew}"), "IMG_[datetim_0001");  // no image: the preview name
  image({{"DateTimeOriginal", "2010:12:24 18:00:00"}});
  EXPECT_EQ(expand("{@filenamenew}"), "IMG_20101224_0001");
  env.set_master("NameFormat", PresetValue::of("{@qf.x,1,-1,-}{@filename,1,4}"));
  env.set_master("qf_x", PresetValue::of("K"));
  EXPECT_EQ(expand("{@filenamenew}.{@extension}"), "K-ABCD.NEF");
  env.set_master("NameFormat", PresetValue::of("a{@FileNameNew}"));
  EXPECT_EQ(expand("{@filenamenew}"), "{@filenamenew}");
  // A name format that reaches itself through another value ends at the depth limit.
  env.set_master("NameFormat", PresetValue::of("<{@qf.x}>"));
  env.set_master("qf_x", PresetValue::of("{@filenamenew}"));
  EXPECT_EQ(expand("{@filenamenew}"), "<<<{@filenamenew}>>>");
}

TEST_F(MacroTest, DatabaseValuesByTheLastChosenRecord) {
  env.set_master("LastDB_Client", PresetValue::of("O'Brien"));
  DatabaseLookup q{"client", "name", "email", "O'Brien"};
  EXPECT_EQ(q.sql(), "select email from client where name = 'O''Brien'");
  env.database[q.sql()] = "ob@example.com";
  EXPECT_EQ(expand("{@client.email}|{@Clients.EMAIL}|{@client.phone}|"), "ob@example.com|||");
  env.set_master("LastDB_ingestion", PresetValue::of("42"));
  env.database["select start from ingestion where ingestion_sk = '42'"] = "0420";
  EXPECT_EQ(expand("{@ingestion.start}|{@Ingestions.start}|"), "0420||");  // key by name as written
  EXPECT_EQ(expand("[{@client.a;drop}]"), "[]");  // never reaches the database
}

TEST_F(MacroTest, RetiredMacrosShowTheirMessageOnce) {
  captured_ui().clear();
  EXPECT_EQ(expand("{@client}/{@project}"),
            std::string(kMacroNoLongerImplemented) + "/" + kMacroNoLongerImplemented);
  EXPECT_EQ(expand("{@card}"), kMacroNoLongerImplemented);
  ASSERT_EQ(captured_ui().alerts.size(), 1u);
  EXPECT_EQ(captured_ui().alerts[0],
            "Macros {@card}, {@client}, and {@project} are no longer implemented.");
}

TEST(MacroExifCache, ReadsEachImageOnceUntilAnotherIsAsked) {
  TempDir dir;
  MacroEnvironment env;
  const std::string a = dir / "a.jpg", b = dir / "b.jpg";
  write_file(a, fixtures::make_jpeg("2024:05:17 10:20:30"));
  write_file(b, fixtures::make_jpeg("2023:01:02 03:04:05"));
  EXPECT_EQ(exif_macro_value(env, "DateTimeOriginal", a), "20240517_102030");
  // The same image again comes from the cache, even when the file changed meanwhile.
  write_file(a, fixtures::make_jpeg("2025:12:31 23:59:58"));
  EXPECT_EQ(exif_macro_value(env, "datetimeoriginal", a), "20240517_102030");
  EXPECT_EQ(exif_macro_value(env, "DateTimeOriginal", b), "20230102_030405");
  EXPECT_EQ(exif_macro_value(env, "DateTimeOriginal", a), "20251231_235958");
  // A file the reader cannot read gives nothing and forgets the cached image.
  write_file(dir / "bad.jpg", "not an image");
  EXPECT_EQ(exif_macro_value(env, "DateTimeOriginal", dir / "bad.jpg"), "");
  write_file(b, fixtures::make_jpeg("2022:02:02 02:02:02"));
  EXPECT_EQ(exif_macro_value(env, "DateTimeOriginal", b), "20220202_020202");
}

// A movie's header time (UTC) read with either setting; the cache keeps the two apart.
TEST(MacroExifCache, MovieTimesFollowTheEnvironmentsSetting) {
  TempDir dir;
  const std::string movie = dir / "M.MOV";
  const auto box = &fixtures::bmff_box;
  // 2021-05-12 10:21:21 UTC: 3703659681 seconds since 1904 (0xdcc15ca1).
  write_file(movie, box("ftyp", "qt  " + std::string(4, '\0')) +
                        box("moov", box("mvhd", std::string(4, '\0') + "\xdc\xc1\x5c\xa1" +
                                                    std::string(92, '\0'))));
  test::ScopedZone berlin("Europe/Berlin");
  MacroEnvironment env;
  const std::string in_zone = exif_macro_value(env, "DateTimeOriginal", movie);
  env.video_times_local = true;
  const std::string as_local = exif_macro_value(env, "DateTimeOriginal", movie);
  env.video_times_local = false;
  const std::string in_zone_again = exif_macro_value(env, "DateTimeOriginal", movie);
  EXPECT_EQ(in_zone, "20210512_122121");
  EXPECT_EQ(as_local, "20210512_102121");
  EXPECT_EQ(in_zone_again, in_zone);
}

TEST(MacroFormats, LabelsAndDistinctExifNames) {
  EXPECT_STREQ(folder_format_label(kDefaultFolderFormat), "YYYY/MM/YYYY-MM-DD");
  EXPECT_STREQ(name_format_label("{@filename}x"), "Custom");
  // Every EXIF name of the table is distinct.
  for (std::size_t i = 0; i < 42; ++i)
    for (std::size_t k = i + 1; k < 42; ++k) EXPECT_NE(kExifMacroTags[i].tag, kExifMacroTags[k].tag);
}

}  // namespace
}  // namespace cw
