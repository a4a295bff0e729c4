// The language statistics: the loader's errors, and the weak pairs of encodings on real
// sentences with the language's own preset and with every preset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/detect.h"
#include "detect/detect_decode.h"
#include "detect/lang_model.h"
#include "tests/support/test_support.h"

using detect::LangModel;
using detect::TreeDetector;
using testing_support::alone;
using testing_support::encode_as;
using testing_support::every_preset;

namespace {

const char* const kTinyModel =
    "ouzel-lang-model 2\n"
    "L\txx\tCP1252\t10\t5\t1\t2\t1\t1\t1\t2\t1\t3\n"
    "U\txx\t\xC3\xA9\t8\n"
    "B\txx\ta\t\xC3\xA9\t2\n";

}  // namespace

// The score of `text` for the model's first language alone.
static double first_language_score(const LangModel& model, std::u32string_view text) {
  double totals[detect::kMaxLanguages] = {};
  model.score(text, 1u, 1, totals);
  return totals[0];
}

TEST(LangModel, LoaderRejectsGarbledData) {
  ASSERT_TRUE(LangModel::parse(kTinyModel).model) << LangModel::parse(kTinyModel).error;
  const std::string with_next = std::string(kTinyModel) + "N\txx\t\xC3\xA9\tt\t2\n";
  ASSERT_TRUE(LangModel::parse(with_next).model) << LangModel::parse(with_next).error;
  const struct {
    std::string data;
    const char* error;
  } cases[] = {
      {"", "no language"},
      {"ouzel-lang-model 2\n", "no language"},
      {"L\txx\tCP1252\t10\n", "line 1: not a language model"},
      {std::string(kTinyModel) + "U\tyy\t\xC3\xA9\t8\n", "line 5: language \"yy\""},
      {std::string(kTinyModel) + "U\txx\tab\t8\n", "line 5: a character record"},
      {std::string(kTinyModel) + "U\txx\t\xC3\xA9\tmany\n", "line 5: a character record"},
      {std::string(kTinyModel) + "B\txx\t\xC3\xA9\n", "line 5: a record of unknown kind"},
      {std::string(kTinyModel) + "Q\txx\n", "line 5"},
      {std::string(kTinyModel) + "N\txx\t\xC3\xA9\tT\t3\n", "line 5: a record of a letter"},
      {std::string(kTinyModel) + "N\txx\te\tt\t3\n", "line 5: a record of a letter"},
      {"ouzel-lang-model 1\n" + std::string(kTinyModel).substr(19), "line 1: not a language"},
      {"ouzel-lang-model 2\nL\txx\tCP1252\t0\t5\t1\t2\t1\t1\t1\t2\t1\t3\n", "line 2: a language"},
      {"ouzel-lang-model 2\nL\txx\tCP1252\t10\t5\t1\t2\t1\t1\t1\t2\t1\t3\n", "no character"},
      {std::string(kTinyModel) + "S\tXx\t1\t2\t3\t4\t5\t6\t7\t8\t9\n", "line 5: a shape record"},
      {std::string(kTinyModel) + "S\tPf\t1\t2\t3\n", "line 5: a shape record"},
      {std::string(kTinyModel) + "T\t]\t1\t2\t3\t4\t5\t6\t7\t8\t9\n",
       "line 5: a character's shape"},
      {std::string(kTinyModel) + "T\t\xC2\xBB\t1\t2\t3\t4\t5\t6\t7\t8\tx\n",
       "line 5: a character's"},
      {std::string(kTinyModel).substr(0, 60), "line 3"},  // cut short inside a record
  };
  for (const auto& c : cases) {
    const LangModel::Loaded loaded = LangModel::parse(c.data);
    EXPECT_FALSE(loaded.model) << c.error;
    EXPECT_NE(loaded.error.find(c.error), std::string::npos) << loaded.error;
  }
}

// A letter's pair that only another language counted backs off, for this language, to "any
// ASCII letter" before the character, as a pair nobody counted does.
TEST(LangModel, LetterPairOfAnotherLanguageBacksOffPerLanguage) {
  const std::string data =
      "ouzel-lang-model 2\n"
      "L\txx\tCP1252\t100\t5\t1\t40\t1\t1\t60\t2\t1\t3\n"
      "L\tyy\tCP1250\t100\t5\t1\t40\t1\t1\t60\t2\t1\t3\n"
      "U\txx\t\xC3\xA9\t20\n"
      "U\tyy\t\xC3\xA9\t20\n"
      "B\txx\tA\t\xC3\xA9\t30\n"   // xx: é after letters, any of them
      "B\tyy\tr\t\xC3\xA9\t10\n";  // yy counted é after r, so the pair (r, é) has a row
  const LangModel::Loaded loaded = LangModel::parse(data);
  ASSERT_TRUE(loaded.model) << loaded.error;
  auto score = [&](std::u32string_view text) { return first_language_score(*loaded.model, text); };
  EXPECT_DOUBLE_EQ(score(U"r\u00E9"), score(U"z\u00E9"));  // z has no row at all
  EXPECT_GT(score(U"r\u00E9"), score(U" \u00E9") + 1.0);   // and letters are what xx knew
}

// Each record counts for the language it names, whether a language's records come together
// or take turns with another's.
TEST(LangModel, RecordsCountForTheLanguageTheyNameInAnyOrder) {
  const std::string head =
      "ouzel-lang-model 2\n"
      "L\txx\tCP1252\t100\t5\t1\t40\t1\t1\t60\t2\t1\t3\n"
      "L\tyy\tCP1250\t100\t5\t1\t40\t1\t1\t60\t2\t1\t3\n";
  const std::string xx[] = {"U\txx\t\xC3\xA9\t60\n", "B\txx\tr\t\xC3\xA9\t30\n",
                            "U\txx\t\xC3\xA8\t5\n"};
  const std::string yy[] = {"U\tyy\t\xC3\xA8\t70\n", "B\tyy\tt\t\xC3\xA8\t20\n",
                            "U\tyy\t\xC3\xA9\t2\n"};
  const LangModel::Loaded grouped =
      LangModel::parse(head + xx[0] + xx[1] + xx[2] + yy[0] + yy[1] + yy[2]);
  const LangModel::Loaded turns =
      LangModel::parse(head + xx[0] + yy[0] + xx[1] + yy[1] + xx[2] + yy[2]);
  ASSERT_TRUE(grouped.model) << grouped.error;
  ASSERT_TRUE(turns.model) << turns.error;
  for (const std::u32string text : {U"r\u00E9", U"t\u00E8", U" \u00E8\u00E9 "}) {
    double a[detect::kMaxLanguages] = {}, b[detect::kMaxLanguages] = {};
    grouped.model->score(text, 3u, 1, a);
    turns.model->score(text, 3u, 1, b);
    EXPECT_DOUBLE_EQ(a[0], b[0]);
    EXPECT_DOUBLE_EQ(a[1], b[1]);
  }
  double a[detect::kMaxLanguages] = {};
  grouped.model->score(U"r\u00E9", 3u, 1, a);
  EXPECT_GT(a[0], a[1] + 1.0);  // é after r is xx's
}

// A quote a language counted too rarely backs off to its share of the category times the
// quote's share of that category over every language; a letter does not borrow that way, and
// one that no language showed is less likely than one another language did.
TEST(LangModel, RareMarksBackOffToPooledCategoryLettersDoNot) {
  const std::string data =
      "ouzel-lang-model 2\n"
      "L\txx\tCP1253\t100\t5\t1\t40\t1\t1\t60\t2\t1\t3\n"
      "L\tyy\tCP1251\t100\t5\t1\t40\t1\t1\t60\t2\t1\t3\n"
      "C\txx\tLl\t90\n"
      "C\txx\tPf\t10\n"
      "U\txx\t\xCE\xB1\t90\n"  // α
      "U\txx\t\xC2\xBB\t10\n"  // »
      "C\tyy\tLl\t50\n"
      "C\tyy\tPf\t50\n"
      "U\tyy\t\xD0\xB6\t50\n"       // ж
      "U\tyy\t\xE2\x80\x99\t50\n";  // ’
  const LangModel::Loaded loaded = LangModel::parse(data);
  ASSERT_TRUE(loaded.model) << loaded.error;
  auto score = [&](std::u32string_view text) { return first_language_score(*loaded.model, text); };
  EXPECT_GT(score(U" \u2019 "), score(U" \u201D ") + 1.0);  // ’ others use, ” nobody counted
  EXPECT_GT(score(U" \u2019 "), score(U" \u0385 ") + 1.0);  // ΅: xx saw no modifier symbol
  EXPECT_GE(score(U" \u00BB "), score(U" \u2019 "));        // its own » stays its own
  EXPECT_GT(score(U" \u0436 "), score(U" \u0463 ") + 1.0);  // ж is yy's, ѣ nobody's
}

// What stands beside a character that is not a letter, pooled over every language: a quote
// between a bracket and a blank is common, a capital letter there is not. Its own counts
// first, then its category's; a letter scores the same wherever it stands.
TEST(LangModel, ShapeOfNeighboursWeighsMarksNotLetters) {
  const std::string base =
      "ouzel-lang-model 2\n"
      "L\txx\tCP1253\t100\t5\t1\t40\t1\t1\t60\t2\t1\t3\n"
      "C\txx\tLu\t50\n"
      "C\txx\tPf\t50\n"
      "U\txx\t\xCE\x86\t25\n"       // Ά
      "U\txx\t\xCE\x91\t25\n"       // Α
      "U\txx\t\xE2\x80\x99\t25\n"   // ’
      "U\txx\t\xE2\x80\x9D\t25\n";  // ”
  // In the order ll lb lo bl bb bo ol ob oo: letters inside words, ’ after letters (and
  // after brackets, before blanks), Pf over all after letters or brackets.
  const std::string shaped = base +
                             "S\tLu\t900\t50\t10\t30\t1\t1\t5\t1\t2\n"
                             "S\tPf\t10\t40\t20\t1\t1\t1\t5\t20\t2\n"
                             "T\t\xE2\x80\x99\t60\t20\t5\t0\t0\t0\t1\t10\t1\n"
                             // A letter's record (another Unicode's idea of Ά) is left out.
                             "T\t\xCE\x86\t1\t1\t900\t1\t1\t1\t1\t1\t1\n";
  const LangModel::Loaded plain = LangModel::parse(base), with = LangModel::parse(shaped);
  ASSERT_TRUE(plain.model) << plain.error;
  ASSERT_TRUE(with.model) << with.error;
  auto gain = [&](std::u32string_view text) {
    double a[detect::kMaxLanguages] = {}, b[detect::kMaxLanguages] = {};
    plain.model->score(text, 1u, 1, a);
    with.model->score(text, 1u, 1, b);
    return b[0] - a[0];
  };
  for (std::u32string_view letters : {U"]\u0386 ", U" \u0386x", U"\u0391\u0386\u0391", U"(\u0386)"})
    EXPECT_DOUBLE_EQ(gain(letters), 0.0);
  EXPECT_GT(gain(U"]\u2019 "), 1.0);   // ’ where it stands
  EXPECT_LT(gain(U" \u2019x"), -1.0);  // ’ never seen before a word
  EXPECT_GT(gain(U"]\u201D "), 1.0);   // ”, no counts of its own: those of Pf
  EXPECT_LT(gain(U" \u201Dx"), gain(U"]\u201D "));
}

TEST(LangModel, BuiltInModelServesEveryPreset) {
  const LangModel& m = detect::lang_model();
  EXPECT_GE(m.languages(), 15u);
  for (const detect::Preset& p : detect::presets())
    for (const std::string& e : p.encodings) EXPECT_NE(m.served_by(e), 0u) << e;
  const uint32_t hebrew = m.served_by("CP1255"), greek = m.served_by("ISO-8859-7");
  EXPECT_EQ(hebrew, uint32_t{1} << m.language_index("he"));
  EXPECT_EQ(greek & hebrew, 0u);
  EXPECT_TRUE(m.served_by("KOI8-R") >> m.language_index("ru") & 1);
  EXPECT_TRUE(m.served_by("ISO-8859-1") >> m.language_index("fr") & 1);
  EXPECT_EQ(m.served_by("NO-SUCH-THING"), 0u);
}

// Right text scores above the same bytes read in another encoding of a rival script.
TEST(LangModel, PlausibleTextOutscoresItsMisreadings) {
  const struct {
    const char* text;
    const char* encoding;
    const char* misread_as;
  } cases[] = {
      {"הקובץ לא נמצא בתיקייה שצוינה", "CP1255", "CP1253"},
      {"Не удалось открыть файл для чтения", "CP1251", "KOI8-R"},
      {"Le fichier a été déplacé à la corbeille", "ISO-8859-1", "ISO-8859-2"},
      {"파일을 읽을 수 없습니다", "EUC-KR", "EUC-JP"},
  };
  for (const auto& c : cases) {
    const std::string bytes = encode_as(c.text, c.encoding);
    std::u32string right, wrong;
    ASSERT_TRUE(detect::decode_strict(bytes, c.encoding, right).ok) << c.text;
    ASSERT_TRUE(detect::decode_strict(bytes, c.misread_as, wrong).ok) << c.text;
    double chars = 0;
    std::string language;
    const double good = detect::language_points(right, c.encoding, &chars, &language);
    EXPECT_GT(chars, 0) << c.text;
    EXPECT_GT(good, 0) << c.text << " as " << language;
    EXPECT_GT(good, detect::language_points(wrong, c.misread_as) + 10) << c.text;
  }
}

// Text of no stated encoding: real writing in any language scores above the misreadings of
// the same bytes (the GBK comment 模式 read as UTF-8 is ģʽ).
TEST(LangModel, BestLanguageOfUnstatedText) {
  const struct {
    const char32_t* right;
    const char32_t* wrong;
    const char* language;
  } cases[] = {
      {U"// 模式", U"// ģʽ", "zh_CN"},
      {U"Größe der Datei prüfen", U"GrÃ¶ÃŸe der Datei prÃ¼fen", "de"},
      {U"Ошибка чтения файла", U"Îøèáêà ÷òåíèÿ ôàéëà", "ru"},
  };
  for (const auto& c : cases) {
    std::string language;
    double chars = 0;
    const double right = detect::best_language_points(c.right, &chars, &language);
    EXPECT_GT(chars, 0);
    EXPECT_EQ(language, c.language);
    EXPECT_GT(right, detect::best_language_points(c.wrong) + 5) << language;
  }
}

// The weak pairs, each sentence written for this test: read right with the language's own
// preset, and as the same text with every preset as candidates (GBK and GB18030 may swap).
TEST(LangModel, WeakPairsRightWithOwnAndEveryPreset) {
  const struct {
    const char* text;
    const char* encoding;
  } cases[] = {
      {"// הקובץ לא נמצא בתיקייה שצוינה, נסו שוב מאוחר יותר\n", "CP1255"},
      {"# שגיאה בעת קריאת הנתונים מהדיסק החיצוני\n", "ISO-8859-8"},
      {"// Не удалось открыть файл для чтения: доступ запрещён\n", "CP1251"},
      {"# Программа завершила работу с ошибкой\n", "KOI8-R"},
      {"Сохранить изменения перед выходом из программы?\n", "CP866"},
      {"/* Le fichier a été déplacé à la corbeille après la mise à jour */\n", "ISO-8859-1"},
      {"La contraseña es incorrecta; inténtelo de nuevo más tarde.\n", "CP1252"},
      {"Nie można otworzyć pliku źródłowego, sprawdź uprawnienia.\n", "CP1250"},
      {"Soubor nelze uložit, protože disk je plný.\n", "ISO-8859-2"},
      {"A fájl mentése nem sikerült, győződjön meg a jogosultságokról.\n", "ISO-8859-2"},
      {"Die Größe der Datei überschreitet das Limit für Anhänge.\n", "CP1252"},
      {"# Não foi possível abrir o ficheiro de configuração\n", "ISO-8859-1"},
      {"Impossibile salvare: il file è già aperto in un’altra finestra.\n", "CP1252"},
      {"Không thể mở tệp cấu hình, vui lòng thử lại.\n", "CP1258"},
      {"// Не вдалося відкрити файл налаштувань, їх буде створено заново\n", "KOI8-U"},
      {"Dosya açılamadı, lütfen izinleri kontrol edin.\n", "CP1254"},
      {"// 설정을 저장하지 못했습니다. 다시 시도하십시오.\n", "EUC-KR"},
      {"// 파일을 읽을 수 없습니다\n", "CP949"},
      {"Άγνωστο σφάλμα κατά την αποθήκευση του αρχείου.\n", "ISO-8859-7"},
      {"Άγνωστο σφάλμα κατά την αποθήκευση του αρχείου.\n", "CP1253"},
      // ISO-8859-7 0xA2 is ’, CP1253 Ά: the readings differ only after ASCII letters.
      {"Εκτέλεση: make -C build’ απέτυχε, δείτε το config’ του έργου.\n", "ISO-8859-7"},
      {"# Η τιμή %s’ δεν ορίστηκε στο αρχείο ρυθμίσεων\n", "ISO-8859-7"},
      // 0xA1 0xA2 are ‘ ’ in ISO-8859-7, the accent ΅ and the capital Ά in CP1253: a quote
      // stands between a bracket and a blank, a capital letter does not.
      {"Η εντολή ‘DROP [(NAME)]’ διαγράφει τον πίνακα.\n", "ISO-8859-7"},
      {"Χρησιμοποιήστε ‘LIST[(FIELDS)]’ για να δείτε τα πεδία.\n", "ISO-8859-7"},
      {"Η μορφή είναι ‘KEY[=VALUE]’ σε κάθε γραμμή.\n", "ISO-8859-7"},
      {"# το ‘αρχείο’ δεν βρέθηκε\n", "ISO-8859-7"},
      // And a capital Ά that starts a word stays CP1253, in capitals or alone.
      {"ΆΔΕΙΑ ΧΡΗΣΗΣ: δείτε το αρχείο COPYING.\n", "CP1253"},
      {"Κατάσταση: Ά (άκυρο).\n", "CP1253"},
      {"// 无法打开配置文件，请检查路径\n", "GBK"},
      {"// 無法開啟設定檔，請檢查路徑\n", "BIG5"},
      {"// ファイルを開けませんでした。もう一度お試しください\n", "EUC-JP"},
  };
  for (const auto& c : cases) {
    const std::string bytes = encode_as(c.text, c.encoding);
    ASSERT_FALSE(bytes.empty()) << c.text;
    const detect::Preset* own = detect::preset_of(c.encoding);
    ASSERT_NE(own, nullptr) << c.encoding;
    const detect::Decision d_own = alone({own->name}, own->encodings.front(), bytes);
    const detect::Decision d_every = alone(every_preset(), "GBK", bytes);
    std::u32string read;
    for (const detect::Decision* d : {&d_own, &d_every}) {
      read.clear();
      ASSERT_TRUE(detect::decode_strict(bytes, d->encoding, read).ok) << c.text << d->note;
      std::string utf8;
      detect::append_utf8(utf8, read);
      EXPECT_EQ(utf8, c.text) << c.encoding << " read as " << d->encoding << ": " << d->note;
    }
  }
}
