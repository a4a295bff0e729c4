// More candidates never hurt: on real sentences, a file read right with its language's own
// preset reads as the same text with every preset; and the causes that broke it once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/detect.h"
#include "detect/detect_decode.h"
#include "tests/support/test_support.h"

using detect::TreeDetector;
using testing_support::alone;
using testing_support::encode_as;
using testing_support::every_preset;

namespace {

// What the decision's encoding reads the bytes as; "" when it names none or cannot read them.
std::string read_as(const detect::Decision& d, const std::string& bytes) {
  std::u32string text;
  if (d.encoding.empty() || !detect::decode_strict(bytes, d.encoding, text).ok) return "";
  std::string utf8;
  detect::append_utf8(utf8, text);
  return utf8;
}

struct Sample {
  const char* text;
  const char* encoding;
};

// Sentences and short program messages written for these tests, a few in each encoding of
// the presets, from a short title to a full sentence.
const Sample kSentences[] = {
    {"Datei konnte nicht geöffnet werden: Zugriff verweigert.\n", "CP1252"},
    {"Größe der Sicherung überschreitet das Kontingent.\n", "ISO-8859-15"},
    {"Le répertoire « %s » n'existe pas.\n", "ISO-8859-1"},
    {"Impossible de créer le fichier temporaire.\n", "CP1252"},
    {"No se encontró ningún dispositivo compatible.\n", "ISO-8859-1"},
    {"Não foi possível concluir a operação.\n", "CP1252"},
    {"Impossibile aprire il file: è già in uso.\n", "ISO-8859-15"},
    {"Nie udało się zapisać zmian w pliku.\n", "ISO-8859-2"},
    {"Soubor nebyl nalezen, zkontrolujte cestu.\n", "CP1250"},
    {"A fájl nem található vagy sérült.\n", "CP1250"},
    {"Не удалось сохранить настройки программы.\n", "CP1251"},
    {"Ошибка при чтении каталога.\n", "KOI8-R"},
    {"Не вдалося відкрити файл налаштувань.\n", "KOI8-U"},
    {"Файл не найден.\n", "CP866"},
    {"Δεν ήταν δυνατό το άνοιγμα του αρχείου.\n", "CP1253"},
    {"Σφάλμα κατά την εγγραφή του αρχείου.\n", "ISO-8859-7"},
    {"Dosya bulunamadı, lütfen yolu denetleyin.\n", "ISO-8859-9"},
    {"לא ניתן לפתוח את הקובץ המבוקש.\n", "CP1255"},
    {"השמירה נכשלה, נסו שוב.\n", "ISO-8859-8"},
    {"تعذر فتح الملف المطلوب.\n", "CP1256"},
    {"ไม่สามารถเปิดไฟล์ได้\n", "TIS-620"},
    {"Không thể mở tệp tin này.\n", "CP1258"},
    {"无法保存文件，磁盘已满。\n", "GBK"},
    {"找不到指定的设备。\n", "GB18030"},
    {"無法儲存檔案，磁碟已滿。\n", "BIG5"},
    {"ファイルを保存できませんでした。\n", "CP932"},
    {"設定ファイルが見つかりません。\n", "EUC-JP"},
    {"エジプト\n", "EUC-JP"},
    {"サイズ: %d\n", "EUC-JP"},
    {"파일을 저장할 수 없습니다.\n", "EUC-KR"},
    {"설정 파일이 없습니다.\n", "CP949"},
    {"Ouvrir « %s »\n", "CP1252"},
    {"%u\xC2\xA0octet\n", "ISO-8859-15"},
    {"Metainfo-Datei »%s« existiert nicht.\n", "CP1252"},
    // An acute accent for an apostrophe, which ISO-8859-15 reads as Ž inside a word.
    {"Na, wie geht´s? Wußten Sie schon, daß Bier ein Grundnahrungsmittel ist?\n", "CP1252"},
    // Short Russian in capitals, which CP1253 and KOI8-R read as lower-case nonsense.
    {"ЗАКОН ТЕХНОЛОГИИ ЛЕРМАНА\n", "KOI8-R"},
    {"ЗАКОН ТЕХНОЛОГИИ ЛЕРМАНА\n", "CP1251"},
    {"ПРАВИЛО ВТОРОЕ: НЕ СПЕШИ\n", "KOI8-R"},
    // The encodings the packaged detectors name beyond the common pages.
    {"Не удалось открыть файл настроек программы.\n", "ISO-8859-5"},
    {"Ошибка при чтении каталога пользователя.\n", "CP855"},
    {"Сохранить изменения в документе перед закрытием?\n", "MAC-CYRILLIC"},
    {"Impossible de créer le fichier « %s » : accès refusé.\n", "MACINTOSH"},
    {"Die Datei konnte nicht gelöscht werden, sie ist schreibgeschützt.\n", "CP850"},
    {"Nie można otworzyć pliku, sprawdź uprawnienia dostępu.\n", "CP852"},
    {"Nepavyko atidaryti failo, patikrinkite prieigos teises.\n", "CP1257"},
    {"Neizdevās saglabāt izmaiņas failā, mēģiniet vēlreiz.\n", "ISO-8859-13"},
    {"파일을 저장할 수 없습니다. 디스크가 가득 찼습니다.\n", "JOHAB"},
    {"無法儲存檔案，磁碟空間已經用完了。\n", "EUC-TW"},
    {"Không thể mở tệp tin này, hãy kiểm tra lại quyền truy cập.\n", "VISCII"},
    {"╔══════════╗\n║ Settings ║\n╟──────────╢\n║ Save     ║\n╚══════════╝\n", "CP437"},
};

}  // namespace

// The property itself: wherever the own preset reads a sentence right, every preset reads the
// same text (the label may differ where two read it alike). Every sentence is right with its
// own preset, so the property is checked on all of them.
TEST(DetectCandidates, EveryPresetReadsWhatTheOwnPresetReadsRight) {
  size_t checked = 0;
  for (const Sample& s : kSentences) {
    const std::string bytes = encode_as(s.text, s.encoding);
    ASSERT_FALSE(bytes.empty()) << s.text;
    const detect::Preset* own = detect::preset_of(s.encoding);
    ASSERT_NE(own, nullptr) << s.encoding;
    const detect::Decision d_own = alone({own->name}, own->encodings.front(), bytes);
    EXPECT_EQ(read_as(d_own, bytes), s.text) << s.encoding << " read as " << d_own.encoding;
    if (read_as(d_own, bytes) != s.text) continue;
    ++checked;
    const detect::Decision d_every = alone(every_preset(), "GBK", bytes);
    EXPECT_EQ(read_as(d_every, bytes), s.text)
        << s.encoding << " read as " << d_every.encoding << " ("
        << detect::evidence_name(d_every.evidence) << "): " << d_every.note;
  }
  EXPECT_EQ(checked, std::size(kSentences));
}

// A file in an encoding no candidate names is refused (undetected or ambiguous, with the
// place its best readings part), never read wrongly: Russian, Greek and Chinese with Western
// and Central European candidates, German and Polish with Cyrillic and Greek ones, and
// MacRoman, DOS and ISO-8859-5 text with its language's usual preset. Also where a candidate
// reads it as plausible text of another language (Lithuanian ų as Czech ů, Turkish ı as ý,
// DOS Polish ą as Ą): an encoding outside the candidates reads it better.
TEST(DetectCandidates, OutsideTheCandidatesIsRefused) {
  const struct {
    const char* text;
    const char* encoding;
    std::vector<std::string> candidates;
  } cases[] = {
      {"Не удалось сохранить настройки программы.\n", "CP1251", {"Western", "Central European"}},
      {"Ошибка при чтении каталога.\n", "KOI8-R", {"Western", "Central European"}},
      {"Δεν ήταν δυνατό το άνοιγμα του αρχείου.\n", "CP1253", {"Western", "Central European"}},
      {"无法保存文件，磁盘已满。\n", "GBK", {"Western", "Central European"}},
      {"Datei konnte nicht geöffnet werden: Zugriff verweigert.\n",
       "CP1252",
       {"Cyrillic", "Greek"}},
      {"Nie udało się zapisać zmian w pliku.\n", "ISO-8859-2", {"Cyrillic", "Greek"}},
      {"Impossible de créer le fichier « %s » : accès refusé.\n", "MACINTOSH", {"Western"}},
      {"Die Datei konnte nicht gelöscht werden, sie ist schreibgeschützt.\n", "CP850", {"Western"}},
      {"Не удалось открыть файл настроек программы.\n", "ISO-8859-5", {"Western", "Greek"}},
      {"┌──────────┐\n│ Menu     │\n├──────────┤\n│ Open     │\n└──────────┘\n",
       "CP437",
       {"Western", "Cyrillic"}},
      {"Meksikiečių ir Arabų gestų kalbos, Kinų, Katalonų ir Venetų tarmės; Bulgarų, Austrų ir "
       "Lietuvių gestų kalbos žodynas.\n",
       "ISO-8859-4",
       {"Western", "Central European"}},
      {"Mērķa mape nav atrasta\n", "CP1257", {"Western", "Central European"}},
      {"Geçersiz kullanıcı adı\n", "ISO-8859-3", {"Western", "Central European"}},
      {"Mantık hatası\n", "ISO-8859-9", {"Western", "Central European"}},
      {"Nastavení tisku\n", "MAC-CENTRALEUROPE", {"Western", "Central European"}},
      {"Zarządzanie plikami\n", "CP852", {"Central European"}},
      {"Datei gehört niemandem\n", "CP850", {"Western"}},
  };
  for (const auto& c : cases) {
    const std::string bytes = encode_as(c.text, c.encoding);
    ASSERT_FALSE(bytes.empty()) << c.text;
    const detect::Decision d = alone(c.candidates, "", bytes);
    const std::string read = read_as(d, bytes);
    EXPECT_TRUE(read.empty() || read == c.text)
        << c.encoding << " read as " << d.encoding << ": " << read;
    if (!d.encoding.empty()) continue;
    EXPECT_TRUE(d.evidence == detect::Evidence::undetected ||
                d.evidence == detect::Evidence::ambiguous);
    EXPECT_NE(d.note.find("line 1: "), std::string::npos) << c.encoding << ": " << d.note;
  }
}

// Japanese kana that GB2312 holds too read alike in EUC-JP and GBK: the text is as plausible
// as its Japanese reading, not as a Chinese one, so it is no close call with Big5's reading.
TEST(DetectCandidates, KanaReadAlikeByTwoLabelsIsNoCloseCall) {
  for (const char* text : {"エジプト\n", "サイズ: %d\n", "ファイル\n"}) {
    const std::string bytes = encode_as(text, "EUC-JP");
    ASSERT_EQ(read_as({"GBK", {}, 0, "", {}}, bytes), text) << "the premise: GBK reads it alike";
    const detect::Decision d = alone(every_preset(), "GBK", bytes);
    EXPECT_NE(d.evidence, detect::Evidence::ambiguous) << text << ": " << d.note;
    EXPECT_EQ(read_as(d, bytes), text) << text << " read as " << d.encoding;
  }
}

// Text that a Cyrillic label reads alike (« », a no-break space) is named by the label whose
// language fits it, not the first listed.
TEST(DetectCandidates, SharedReadingIsNamedByTheFittingLanguage) {
  const std::string bytes = encode_as("Le fichier « %s » est introuvable.\n", "CP1252");
  ASSERT_EQ(read_as({"CP1251", {}, 0, "", {}}, bytes), "Le fichier « %s » est introuvable.\n");
  const detect::Decision d = alone(every_preset(), "GBK", bytes);
  EXPECT_TRUE(d.encoding == "CP1252" || d.encoding == "ISO-8859-15" || d.encoding == "ISO-8859-1")
      << d.encoding;
}

// Greek text that ISO-8859-7 and CP1253 read alike for its first kilobytes, then holds a
// capital Ά (0xB6 in ISO-8859-7, ¶ in CP1253): the later text decides, with every preset too.
TEST(DetectCandidates, LabelsThatPartLateAreToldApart) {
  std::string text;
  while (text.size() < 6000)
    text +=
        "Η εφαρμογή αποθηκεύει τις ρυθμίσεις του χρήστη στον τοπικό κατάλογο.\n"
        "Το αρχείο καταγραφής περιέχει τα μηνύματα της τελευταίας εκτέλεσης.\n";
  text += "Άγνωστο σφάλμα κατά την ανάγνωση.\n";
  const std::string bytes = encode_as(text, "ISO-8859-7");
  ASSERT_NE(read_as({"CP1253", {}, 0, "", {}}, bytes), text) << "the premise: CP1253 differs";
  for (const std::vector<std::string>& candidates :
       {std::vector<std::string>{"Greek"}, every_preset()}) {
    const detect::Decision d = alone(candidates, candidates.size() == 1 ? "CP1253" : "GBK", bytes);
    EXPECT_EQ(d.encoding, "ISO-8859-7") << candidates.size() << ": " << d.note;
  }
}
