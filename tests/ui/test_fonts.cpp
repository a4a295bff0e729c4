// Text font choice and loading, the merged icon glyphs and the DPI-scaled style.
#include <imgui_internal.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>

#include "app/app_state.h"
#include "tests/support/imgui_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_test_app.h"
#include "ui/fonts.h"
#include "util/i18n.h"
#include "widgets/glyph_demand.h"

using testing_support::TempDir;
using testing_support::write_file;

namespace {

const TextFontPaths kSystem = system_text_fonts();

// The code points of the icon font that the dialogs and choosers use.
constexpr ImWchar kIcons[] = {0xF002, 0xF00C, 0xF00D, 0xF021, 0xF02E, 0xF040,
                              0xF064, 0xF067, 0xF068, 0xF077, 0xF078, 0xF07B,
                              0xF07C, 0xF0A0, 0xF0C7, 0xF15B, 0xF1C5, 0xF1C9};

}  // namespace

// The preferred file is taken when it exists and is not a directory; else the fallback,
// without looking at it.
TEST(FontChoice, PreferredUnlessMissingOrADirectory) {
  TempDir dir;
  write_file(dir / "pref.ttf", "x");
  std::filesystem::create_directory(dir / "dir.ttf");
  EXPECT_EQ(choose_text_font({dir / "pref.ttf", dir / "fb.ttc"}), dir / "pref.ttf");
  EXPECT_EQ(choose_text_font({dir / "missing.ttf", dir / "fb.ttc"}), dir / "fb.ttc");
  EXPECT_EQ(choose_text_font({dir / "dir.ttf", dir / "fb.ttc"}), dir / "fb.ttc");
  EXPECT_EQ(choose_text_font({dir / "missing.ttf", dir / "gone.ttc"}), dir / "gone.ttc");
}

// Loading: a missing preferred font, a directory of that name or a file that is no font
// selects the fallback; with neither usable the built-in font is used.
TEST(FontChoice, LoadsPreferredThenFallbackThenBuiltIn) {
  ASSERT_TRUE(std::filesystem::is_regular_file(kSystem.preferred)) << "run scripts/setup.sh";
  ASSERT_TRUE(std::filesystem::is_regular_file(kSystem.fallback)) << "run scripts/setup.sh";
  TempDir dir;
  std::filesystem::create_directory(dir / "dir.ttf");
  write_file(dir / "text.ttf", "this is not a font, only text long enough to look like one");
  std::vector<unsigned char> data;

  EXPECT_EQ(pick_text_font(kSystem, data), TextFontSource::Preferred);
  EXPECT_EQ(data.size(), std::filesystem::file_size(kSystem.preferred));
  EXPECT_EQ(pick_text_font({dir / "missing.ttf", kSystem.fallback}, data),
            TextFontSource::Fallback);
  EXPECT_EQ(data.size(), std::filesystem::file_size(kSystem.fallback));
  EXPECT_EQ(pick_text_font({dir / "dir.ttf", kSystem.fallback}, data), TextFontSource::Fallback);
  EXPECT_EQ(pick_text_font({dir / "text.ttf", kSystem.fallback}, data), TextFontSource::Fallback);
  EXPECT_EQ(pick_text_font({dir / "missing.ttf", dir / "text.ttf"}, data), TextFontSource::BuiltIn);
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(pick_text_font({dir / "dir.ttf", dir / "dir.ttf"}, data), TextFontSource::BuiltIn);
}

using FontSetupTest = ImGuiFixture;

namespace {

// Runs setup on an empty atlas and builds it, as the first frame would.
TextFontSource setup_and_build(float dpi_scale, const TextFontPaths& paths) {
  AppState app(AppState::no_config);
  app.dpi_scale = dpi_scale;
  app.font_size = 15.0f * dpi_scale;
  ImGuiIO& io = ImGui::GetIO();
  io.Fonts->Clear();
  const TextFontSource source = setup_fonts_and_style(app, paths);
  unsigned char* pixels = nullptr;
  int w = 0, h = 0;
  io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
  return source;
}

void expect_text_and_icons(float size) {
  ImFontAtlas* atlas = ImGui::GetIO().Fonts;
  ASSERT_TRUE(atlas->IsBuilt());
  ASSERT_EQ(atlas->Fonts.Size, 1);  // the icons are merged, not a second font
  const ImFont* font = atlas->Fonts[0];
  EXPECT_FLOAT_EQ(font->FontSize, size);
  EXPECT_NE(font->FindGlyphNoFallback('A'), nullptr);
  EXPECT_NE(font->FindGlyphNoFallback(0x00E9), nullptr);  // Latin-1
  for (ImWchar c : kIcons) EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << std::hex << c;
}

}  // namespace

// At 144 DPI the style sizes are 1.5 times the defaults and the font is 22.5 px with the
// icon glyphs merged into it.
TEST_F(FontSetupTest, StyleScaledAndIconsMerged) {
  const ImGuiStyle defaults;
  EXPECT_EQ(setup_and_build(1.5f, kSystem), TextFontSource::Preferred);
  const ImGuiStyle& style = ImGui::GetStyle();
  EXPECT_FLOAT_EQ(style.WindowPadding.x, std::floor(defaults.WindowPadding.x * 1.5f));
  EXPECT_FLOAT_EQ(style.FramePadding.y, std::floor(defaults.FramePadding.y * 1.5f));
  EXPECT_FLOAT_EQ(style.ScrollbarSize, std::floor(defaults.ScrollbarSize * 1.5f));
  expect_text_and_icons(22.5f);
}

// At 96 DPI the style keeps the library's default sizes and the font is 15 px.
TEST_F(FontSetupTest, DefaultsAt96Dpi) {
  const ImGuiStyle defaults;
  setup_and_build(1.0f, kSystem);
  EXPECT_FLOAT_EQ(ImGui::GetStyle().WindowPadding.x, defaults.WindowPadding.x);
  EXPECT_FLOAT_EQ(ImGui::GetStyle().ItemSpacing.y, defaults.ItemSpacing.y);
  expect_text_and_icons(15.0f);
}

// With no usable text font the built-in one carries the icons; nothing fails.
TEST_F(FontSetupTest, BuiltInFontWhenNeitherFileLoads) {
  TempDir dir;
  EXPECT_EQ(setup_and_build(1.0f, {dir / "none.ttf", dir / "none.ttc"}), TextFontSource::BuiltIn);
  expect_text_and_icons(15.0f);
  frame([] {
    ImGui::Begin("w");
    ImGui::TextUnformatted("text \xef\x80\x8c");
    ImGui::End();
  });
}

// The fallback collection's first face is used when the preferred file is missing.
TEST_F(FontSetupTest, FallbackCollectionFace0) {
  TempDir dir;
  EXPECT_EQ(setup_and_build(1.25f, {dir / "none.ttf", kSystem.fallback}), TextFontSource::Fallback);
  expect_text_and_icons(18.75f);
}

namespace {

// Each code point of a UTF-8 string.
std::vector<ImWchar> code_points(const char* utf8) {
  std::vector<ImWchar> out;
  for (const char* p = utf8; *p;) {
    unsigned int c = 0;
    p += ImTextCharFromUtf8(&c, p, nullptr);
    out.push_back(static_cast<ImWchar>(c));
  }
  return out;
}

bool in_atlas(ImWchar c) { return ImGui::GetIO().Fonts->Fonts[0]->FindGlyphNoFallback(c); }

class GlyphTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    load_text_fonts();
  }
  // Draws a frame, then adds glyphs between frames as the loop does; true when it did.
  bool draw_and_add() {
    draw();
    return add_requested_glyphs();
  }
};

constexpr const char* kNames = "中文说明.txt 日本語.txt 한국어.txt русский.txt";

}  // namespace

// Cyrillic and Greek are in the atlas from the start; kana, ideographs and hangul, which come
// from the second font, are not.
TEST_F(GlyphTest, CheapScriptsLoadedUpFront) {
  for (ImWchar c : code_points("русский Ελληνικά")) EXPECT_TRUE(in_atlas(c)) << c;
  for (ImWchar c : code_points("中文한국ひら")) EXPECT_FALSE(in_atlas(c)) << c;
  EXPECT_EQ(TextFonts::instance().added_glyphs(), 0u);
}

// After a log line with Chinese, Japanese, Korean and Russian names is drawn, every one of
// their characters is in the atlas, drawn by the fallback face where the first one lacks it.
TEST_F(GlyphTest, LogLineGlyphsAddedAfterFirstDraw) {
  app_.log.append("Processing file: %s", kNames);
  EXPECT_TRUE(draw_and_add());
  for (ImWchar c : code_points(kNames)) EXPECT_TRUE(in_atlas(c)) << std::hex << c;
  EXPECT_EQ(ImGui::GetIO().Fonts->Fonts.Size, 1);  // merged into the one text font
  // Nothing new is drawn: no further rebuild.
  EXPECT_FALSE(draw_and_add());
}

// Text typed into a directory field, and names in the directory chooser's listing, gain
// their glyphs the same way.
TEST_F(GlyphTest, TypedTextAndDialogListing) {
  click("input_dir");
  type_text("/数据/输入", body());
  EXPECT_TRUE(draw_and_add());
  for (ImWchar c : code_points("数据输入")) EXPECT_TRUE(in_atlas(c)) << std::hex << c;

  std::filesystem::create_directory(dir_ / "目录");
  testing_support::ScopedCwd cwd(dir_.path());
  click("choose_output");
  EXPECT_TRUE(draw_and_add());
  EXPECT_TRUE(in_atlas(0x76EE));  // 目
  EXPECT_TRUE(in_atlas(0x5F55));  // 录
  click("dialog.cancel");
}

// A character neither font has stays "?" and never causes another rebuild.
TEST_F(GlyphTest, CharacterNoFontHasIsAskedForOnce) {
  app_.log.append("%s", "\xea\x80\x80");  // U+A000, a Yi syllable
  EXPECT_FALSE(draw_and_add());
  EXPECT_FALSE(in_atlas(0xA000));
  app_.log.append("%s", "\xea\x80\x80 again");
  EXPECT_FALSE(draw_and_add());
}

// In every language, each character of its catalogue is in the atlas before the first frame:
// no menu, label or message is drawn with "?".
TEST_F(FontSetupTest, EveryTranslatedCharacterFromTheStart) {
  for (const std::string& language : testing_support::languages()) {
    SCOPED_TRACE(language);
    testing_support::ScopedLanguage in(language);
    setup_and_build(1.0f, kSystem);
    const std::string texts = i18n::catalogue_texts();
    ASSERT_GT(texts.size(), 1000u);  // the catalogue in use was found and read
    const ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
    size_t missing = 0;
    for (const char* p = texts.data(); p < texts.data() + texts.size();) {
      unsigned int c = 0;  // plural forms are separated by NULs
      p += std::max(1, ImTextCharFromUtf8(&c, p, texts.data() + texts.size()));
      if (c >= 0x20 && !font->FindGlyphNoFallback(static_cast<ImWchar>(c)) && missing++ < 5)
        ADD_FAILURE() << std::hex << c;
    }
    EXPECT_EQ(missing, 0u);
  }
}

// With only the fallback collection, it draws the ideographs itself; with the built-in font
// nothing is ever added.
TEST_F(FontSetupTest, AddedGlyphsFromFallbackOnlyAndNoneWithBuiltIn) {
  TempDir dir;
  setup_and_build(1.0f, {dir / "none.ttf", kSystem.fallback});
  glyph_demand::note("中文");
  EXPECT_TRUE(TextFonts::instance().add_requested_glyphs());
  EXPECT_TRUE(in_atlas(0x4E2D));

  setup_and_build(1.0f, {dir / "none.ttf", dir / "none.ttc"});
  glyph_demand::note("中文");
  EXPECT_FALSE(TextFonts::instance().add_requested_glyphs());
  expect_text_and_icons(15.0f);
}
