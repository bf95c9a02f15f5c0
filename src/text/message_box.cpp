#include "text/message_box.h"

#include "runtime/platform.h"
#include "runtime/resources.h"

namespace plf {

namespace {

constexpr std::uint32_t kButtonStyles[6] = {0x000, 0x001, 0x004, 0x003, 0x005, 0x102};

struct KindInfo {
  unsigned captionId;
  std::uint32_t icon;
};
constexpr KindInfo kKinds[5] = {
    {kResCaptionError, 0x10},     // MB_ICONHAND
    {kResCaptionWarning, 0x30},   // MB_ICONEXCLAMATION
    {kResCaptionInfo, 0x40},      // MB_ICONASTERISK
    {kResCaptionQuestion, 0x20},  // MB_ICONQUESTION
    {kResCaptionQuestion, 0x30},
};

std::uint32_t ButtonStyle(int buttons) {
  return buttons >= 0 && buttons < 6 ? kButtonStyles[buttons] : kButtonStyles[0];
}

int Show(const std::string& text, const std::string& caption, std::uint32_t style) {
  Platform& sys = Sys();
  const std::uintptr_t active = sys.GetActiveWindow();
  int answer = 0;
  try {
    answer = sys.MessageBox(0, text, caption, style);  // no owner window
  } catch (...) {
    sys.SetActiveWindow(active);
    throw;
  }
  sys.SetActiveWindow(active);
  return answer;
}

}  // namespace

int ShowMessageBox(const std::string& text, std::uint32_t kind, int buttons) {
  std::uint32_t style = ButtonStyle(buttons) | kMbSetForeground;
  if ((kind & kTopMostFlag) != 0) {
    style |= kMbTopMost;
    kind &= ~kTopMostFlag;
  }
  std::string caption;
  if (kind < 5) {
    caption = Sys().LoadResString(kKinds[kind].captionId);
    style |= kKinds[kind].icon;
  }
  // Any other kind gives a blank title: a caption of the caller's own comes
  // through ShowMessageBoxCaption, never as an address in the kind.
  return Show(text, caption, style);
}

int ShowMessageBoxCaption(const std::string& text, const std::string& caption, bool topMost, int buttons) {
  std::uint32_t style = ButtonStyle(buttons) | kMbSetForeground;
  if (topMost) style |= kMbTopMost;
  return Show(text, caption, style);
}

int ShowError(const std::string& text) { return ShowMessageBox(text, kKindError, 0); }
int ShowWarning(const std::string& text) { return ShowMessageBox(text, kKindWarning, 0); }

}  // namespace plf
