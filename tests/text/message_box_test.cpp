#include "text/message_box.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace plf {
namespace {

struct ActivationPlatform : test::CapturePlatform {
  std::uintptr_t active = 77;
  std::vector<std::uintptr_t> restored;
  bool failBox = false;
  std::uintptr_t GetActiveWindow() override { return active; }
  void SetActiveWindow(std::uintptr_t w) override { restored.push_back(w); }
  int MessageBox(std::uintptr_t owner, const std::string& text, const std::string& caption,
                 std::uint32_t style) override {
    EXPECT_EQ(owner, 0u) << "boxes have no owner window";
    active = 5;  // the box took the activation
    if (failBox) throw std::runtime_error("box failed");
    return CapturePlatform::MessageBox(owner, text, caption, style);
  }
};

TEST(MessageBox, KindsChooseCaptionIconAndButtons) {
  const std::uint32_t kTop = 0x80000000u;
  const struct {
    std::uint32_t kind;
    int buttons;
    const char* caption;
    std::uint32_t style;
  } cases[] = {
      {0, 0, "Nastala chyba:", 0x10000 | 0x10}, {1, 0, "Upozornění", 0x10000 | 0x30},
      {2, 1, "Informace", 0x10000 | 0x40 | 0x001}, {3, 2, "Souhlasíte?", 0x10000 | 0x20 | 0x004},
      {4, 3, "Souhlasíte?", 0x10000 | 0x30 | 0x003}, {1 | kTop, 4, "Upozornění", 0x10000 | 0x40000 | 0x30 | 0x005},
      // Other kinds have no caption; other button sets are OK alone.
      {5, 5, "", 0x10000 | 0x102}, {1000000, 6, "", 0x10000}, {kTop | 7, -1, "", 0x10000 | 0x40000},
  };
  ActivationPlatform p;
  ScopedPlatform scope(p);
  for (const auto& c : cases) EXPECT_EQ(ShowMessageBox("text", c.kind, c.buttons), 1) << c.kind;
  ShowMessageBoxCaption("text", "Titulek", true, 2);  // a caption of its own, topmost when asked
  std::string shown, expected;
  for (const auto& box : p.boxes) shown += box.caption + " " + std::to_string(box.style) + " " + box.text + "\n";
  for (const auto& c : cases) expected += std::string(c.caption) + " " + std::to_string(c.style) + " text\n";
  EXPECT_EQ(shown, expected + "Titulek " + std::to_string(0x10000 | 0x40000 | 0x004) + " text\n");
}

TEST(MessageBox, ActivationIsRestoredEvenWhenTheBoxFails) {
  ActivationPlatform p;
  ScopedPlatform scope(p);
  ShowWarning("x");
  p.active = 0;  // no active window before: null is restored too
  p.failBox = true;
  EXPECT_THROW(ShowWarning("y"), std::runtime_error);
  EXPECT_EQ(p.restored, (std::vector<std::uintptr_t>{77, 0}));
}

}  // namespace
}  // namespace plf
