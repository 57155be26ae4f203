// A few seconds of random and mutated skin files through the reader, the
// builder, layout and painting. Nothing may crash or hang; the number of
// inputs is printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "platform/strings.h"
#include "toolkit/archive.h"
#include "toolkit/builder.h"
#include "toolkit/manager.h"
#include "toolkit/test_support.h"

namespace skin {
namespace {

const wchar_t* const kSkins[] = {L"mainWnd.xml",        L"exitTipWnd.xml",     L"InstalledPathTipWnd.xml",
                                 L"MessageBox1Wnd.xml", L"MessageBox2Wnd.xml", L"NetworkTipWnd.xml"};

// Fragments that steer mutations towards interesting values.
const wchar_t* const kTokens[] = {
    L"<",
    L">",
    L"/>",
    L"</VerticalLayout>",
    L"=\"",
    L"\"",
    L"'",
    L"&",
    L"&#0;",
    L"&#xFFFF;",
    L"<!--",
    L"-->",
    L" width=\"99999999\"",
    L" height=\"-5\"",
    L" pos=\"-100000,5,2147483647,9\"",
    L" padding=\"9999,9999,9999,9999\"",
    L" bkimage=\"file='res/grid.png' corner='9999,1,1,1' dest='-5,-5,99999,3' source='2,2,1,1'\"",
    L" bkimage=\"file='res/grid.png' corner='1,1,1,1' hole='true' fade='-3'\"",
    L" font=\"77\"",
    L" align=\"wrap\"",
    L"<TabLayout selectedid=\"99\">",
    L"<Progress value=\"500\" max=\"0\" foreimage=\"res/grid.png\"/>",
    L"<Text text=\"&#x4E2D;\r\n\" width=\"1\"/>",
    L"<Combo><ListLabelElement/></Combo>",
    L"<Edit maxchar=\"-1\"/>",
    L"<Font id=\"-1\" size=\"100000\" name=\"\"/>",
    L" borderround=\"9999,9999\" bordersize=\"999\" bkcolor=\"#80FF0000\"",
};

std::wstring Mutate(std::wstring text, std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 5);
  const int edits = 1 + static_cast<int>(rng() % 8);
  for (int e = 0; e < edits && !text.empty(); ++e) {
    const size_t at = rng() % text.size();
    switch (kind(rng)) {
      case 0:
        text[at] = static_cast<wchar_t>(rng() % 0x80);
        break;
      case 1:
        text.erase(at, rng() % 40);
        break;
      case 2:
        text.insert(at, kTokens[rng() % std::size(kTokens)]);
        break;
      case 3:
        text.resize(at);
        break;
      case 4:
        text.insert(at, text.substr(rng() % text.size(), rng() % 200));
        break;
      default:
        text[at] = static_cast<wchar_t>(rng() % 0xFFFF + 1);
        break;
    }
  }
  return text;
}

TEST(SkinFuzz, RandomAndMutatedSkinsNeverCrash) {
  const std::string archive = test::ReadFileBytes(test::Widen(OV_FIXTURE_ARCHIVE));
  SetArchiveKind7z(true);
  ASSERT_TRUE(OpenRegisteredArchive(archive.data(), archive.size()));  // for res/grid.png
  std::vector<std::wstring> seeds;
  for (const wchar_t* name : kSkins) {
    const std::string bytes = test::ReadFileBytes(test::Widen(OV_SKIN_DIR) + L"\\" + name);
    ASSERT_FALSE(bytes.empty()) << Utils::WideToUtf8(name);
    seeds.push_back(Utils::Utf8ToWide(bytes));
  }
  std::mt19937 rng(20240607);
  test::Canvas canvas(640, 440);
  int inputs = 0, parsed = 0;
  const DWORD end = GetTickCount() + 3000;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    std::wstring text;
    if (inputs % 10 == 9) {
      text.resize(rng() % 2000);
      for (wchar_t& c : text) c = static_cast<wchar_t>(rng() % 3 ? L"<>=\"'/ aW&#;"[rng() % 12] : rng() % 0xFFFF + 1);
    } else {
      text = Mutate(seeds[static_cast<size_t>(inputs) % seeds.size()], rng);
    }
    ++inputs;
    Markup markup;
    if (!markup.Parse(text)) {
      EXPECT_LT(wcslen(markup.ErrorMessage()), 100u);
      continue;
    }
    ++parsed;
    PaintManager manager;
    manager.AttachRoot(BuildControls(*markup.Root(), manager, nullptr));
    manager.Render(canvas.dc, RECT{0, 0, 600, 400}, RECT{0, 0, 600, 400});
  }
  CloseRegisteredArchive();
  printf("skin fuzz: %d inputs, %d parsed and painted\n", inputs, parsed);
  RecordProperty("inputs", inputs);
  EXPECT_GT(parsed, 0);
}

}  // namespace
}  // namespace skin
